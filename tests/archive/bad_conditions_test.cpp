// An archive that cannot be used says so once, in words that name the file and the cause, and
// the test goes on without it; a damaged file is kept aside and replaced; a busy archive is
// waited for; a stalled disk does not let the queue grow without bound.

#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "archive/archive_open.h"
#include "archive/sqlite_handle.h"
#include "archive/test_endings.h"
#include "archive/test_lock.h"
#include "archive_fixture.h"
#include "bad_input/bad_input_cases.h"

namespace {

using namespace ArchiveTesting;

class ArchiveBadConditions : public ArchiveTest {
  protected:
    void TearDown() override {
        if (!m_immutable.isEmpty()) RunProgram("chattr", {"-i", m_immutable});
        if (!m_mounted.isEmpty()) RunProgram("umount", {m_mounted});
    }

    // Hands a test's start, records and polls to a writer on `file` and returns its messages
    // (the writer expected to give up).
    QStringList writeExpectingFailure(const QString& file) {
        Messages messages;
        ArchiveWriter writer(file, messages.handler());
        writer.beginTest(Header("t"));
        for (int n = 1; n <= 5; ++n) {
            writer.addPoll("t", Poll(n));
            writer.addRecord("t", Record(n));
        }
        EXPECT_FALSE(writer.flush(20000));
        EXPECT_TRUE(writer.failed());
        writer.addRecord("t", Record(6));  // dropped, quietly
        return messages.all();
    }

    // Makes a writer wait for a child holding the archive for `holdMs`; the messages it gave.
    QStringList writeWhileHeld(int holdMs, int busyTimeoutMs, bool* flushed) {
        {
            ArchiveWriter writer(path(), {});
            writer.beginTest(Header("t"));
            EXPECT_TRUE(writer.flush(30000));
        }
        ChildProcess holder("ArchiveChild.HoldsTheArchive", "hold",
                            {{"PATH", path()}, {"MS", QString::number(holdMs)}});
        EXPECT_TRUE(holder.waitForLine("held"));
        Messages messages;
        ArchiveWriter::Options options;
        options.busyTimeoutMs = busyTimeoutMs;
        ArchiveWriter writer(path(), messages.handler(), options);
        writer.addRecord("t", Record(1));
        *flushed = writer.flush(20000);
        EXPECT_EQ(holder.wait(), 0);
        return messages.all();
    }

    // A small disk of its own at `disk`: a tmpfs, which needs root.
    bool mountSmallDisk(const QString& disk, const char* size) {
        if (!QDir().mkpath(disk) || ::getuid() != 0 ||
            RunProgram("mount", {"-t", "tmpfs", "-o", QStringLiteral("size=%1").arg(size), "tmpfs",
                                 disk}) != 0)
            return false;
        m_mounted = disk;
        return true;
    }

    QString m_immutable, m_mounted;
};

TEST_F(ArchiveBadConditions, AFolderThatIsMissingOrReadOnlyIsNamedWithItsCause) {
    const QString missing = dir.filePath("no-such-folder/kivo.sqlite");
    QStringList messages = writeExpectingFailure(missing);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(missing)) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("不存在"))) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("本次实验照常进行")));

    const QString folder = dir.filePath("read-only");
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    if (::access(QFile::encodeName(folder).constData(), W_OK) == 0) {
        m_immutable = folder;
        if (RunProgram("chattr", {"+i", folder}) != 0)
            GTEST_SKIP() << "no way to make a folder read-only here";
    }
    const QString file = QDir(folder).filePath("kivo.sqlite");
    messages = writeExpectingFailure(file);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(file)) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("没有写入权限"))) << messages[0].toStdString();
    QString readerMessage;
    EXPECT_FALSE(ArchiveReader::open(file, &readerMessage));
    EXPECT_TRUE(readerMessage.contains(file));
}

TEST_F(ArchiveBadConditions, AFullDiskMidTestIsNamedOnceAndOnceFreedGetsEverything) {
    const QString disk = dir.filePath("disk");
    if (!mountSmallDisk(disk, "1m")) GTEST_SKIP() << "no small disk to fill here (needs root)";
    const QString file = QDir(disk).filePath("kivo.sqlite");
    Messages messages;
    ArchiveWriter::Options options;
    options.retryMs = 3'600'000;  // here only a new record tries again
    ArchiveWriter writer(file, messages.handler(), options);
    writer.beginTest(Header("t"));
    writer.addRecord("t", Record(1));
    ASSERT_TRUE(writer.flush(30000));
    ASSERT_TRUE(BadInput::FillDisk(disk));
    for (int n = 2; n <= 40; ++n) {
        for (int p = 0; p < 20; ++p) writer.addPoll("t", Poll(n * 20 + p));
        writer.addRecord("t", Record(n));
    }
    EXPECT_FALSE(writer.flush(20000));
    EXPECT_TRUE(writer.failed());
    ASSERT_EQ(messages.all().size(), 1);
    const QString text = messages.all()[0];
    EXPECT_TRUE(text.contains(file)) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("磁盘已满"))) << text.toStdString();

    QFile::remove(QDir(disk).filePath("filler"));
    writer.addRecord("t", Record(41));
    ASSERT_TRUE(writer.flush(20000));
    EXPECT_FALSE(writer.failed());
    ASSERT_EQ(messages.all().size(), 2);
    EXPECT_TRUE(messages.all()[1].contains(QStringLiteral("测试档案已恢复写入：") + file));
    auto reader = ArchiveReader::open(file, nullptr);
    ASSERT_TRUE(reader);
    const auto test = reader->loadTest(reader->listTests().at(0).id);
    ASSERT_EQ(test->records.size(), 41u);
    EXPECT_EQ(test->records.back(), Record(41));
    EXPECT_EQ(reader->polls(test->id).size(), 39u * 20);
}

TEST_F(ArchiveBadConditions, ARewriteCutShortByAFullDiskIsFinishedOnceTheDiskIsFreed) {
    const QString disk = dir.filePath("disk");
    if (!mountSmallDisk(disk, "16m")) GTEST_SKIP() << "no small disk to fill here (needs root)";
    const QString file = QDir(disk).filePath("kivo.sqlite");
    Messages messages;
    ArchiveWriter::Options options;
    options.busyTimeoutMs = 200;
    options.retryMs = 3'600'000;  // here only a new record tries again
    ArchiveWriter writer(file, messages.handler(), options);
    writer.beginTest(Header("t"));
    writer.changeState("t", TestState::Paused, 7);
    std::vector<PollRow> polls;
    for (int n = 1; n <= 6000; ++n) {
        polls.push_back(Poll(n));
        writer.addPoll("t", polls.back());
        if (n % 2000 == 0) writer.addRecord("t", Record(n / 2000));
    }
    ASSERT_TRUE(writer.flush(20000));
    {
        // A write that fails lets go of the file; meanwhile it is damaged.
        Connection blocker(file, SQLITE_OPEN_READWRITE);
        blocker.exec("BEGIN EXCLUSIVE");
        writer.addRecord("t", Record(4));
        ASSERT_TRUE(WaitFor([&] { return writer.failed(); }, 20000));
        blocker.exec("COMMIT");
    }
    for (const char* suffix : {"", "-wal", "-shm"}) QFile::remove(file + suffix);
    {
        QFile garbage(file);
        ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray("不是数据库\n").repeated(100));
    }
    // Room for the new archive and the test's row, not for its polls.
    ASSERT_TRUE(BadInput::FillDisk(disk));
    const QString filler = QDir(disk).filePath("filler");
    ASSERT_TRUE(QFile::resize(filler, QFileInfo(filler).size() - 400 * 1024));
    writer.addRecord("t", Record(5));
    EXPECT_FALSE(writer.flush(20000));
    {
        auto reader = ArchiveReader::open(file, nullptr);
        ASSERT_TRUE(reader);
        ASSERT_EQ(reader->listTests().size(), 1u);  // the rewrite had begun
        EXPECT_LT(reader->polls(reader->listTests()[0].id).size(), polls.size());
    }

    QFile::remove(filler);
    writer.addRecord("t", Record(6));
    ASSERT_TRUE(writer.flush(20000));
    auto reader = ArchiveReader::open(file, nullptr);
    const auto test = reader->loadTest(reader->listTests().at(0).id);
    EXPECT_EQ(test->records,
              (std::vector{Record(1), Record(2), Record(3), Record(4), Record(5), Record(6)}));
    EXPECT_EQ(test->states, (std::vector<StateChange>{{TestState::Paused, 7}}));
    EXPECT_EQ(reader->polls(test->id), polls);
    EXPECT_EQ(messages.all().back(),
              QStringLiteral("测试档案已恢复写入：%1。此前未能写入的记录已全部补写。").arg(file));
}

TEST_F(ArchiveBadConditions, AnEndingThatCanBeKeptNowhereIsSaidAndItsLockHeldToTheEnd) {
    const QString disk = dir.filePath("disk");
    if (!mountSmallDisk(disk, "1m")) GTEST_SKIP() << "no small disk to fill here (needs root)";
    const QString file = QDir(disk).filePath("kivo.sqlite");
    Messages messages;
    ArchiveWriter::Options options;
    options.retryMs = 3'600'000;
    options.closeWaitMs = 300;
    ArchiveWriter writer(file, messages.handler(), options);
    writer.beginTest(Header("t"));
    writer.addRecord("t", Record(1));
    ASSERT_TRUE(writer.flush(10000));
    std::unique_ptr<TestLock> lock = TestLock::tryAcquire(file, "t");
    ASSERT_TRUE(lock);
    ASSERT_TRUE(BadInput::FillDisk(disk));
    for (int n = 2; n <= 40; ++n) {
        for (int p = 0; p < 20; ++p) writer.addPoll("t", Poll(n * 20 + p));
        writer.addRecord("t", Record(n));
    }
    writer.changeState("t", TestState::FinishedByMinutes, 10);
    // Said while the window is still there to export from.
    ASSERT_TRUE(WaitFor(
        [&] {
            return messages.all().size() == 2 &&
                   messages.all()[1].contains(QStringLiteral("结束状态既无法写入"));
        },
        20000))
        << messages.all().join('|').toStdString();
    EXPECT_TRUE(messages.all()[1].contains(QStringLiteral("2026-12-8 08:05:09 开始的实验")));
    EXPECT_FALSE(TestEndings::pending(file, "t"));

    writer.changeState("t", TestState::Closed, 11);
    writer.release(std::move(lock));
    const std::vector<ArchiveWriter::Unwritten> unwritten = writer.close();
    ASSERT_EQ(unwritten.size(), 1u);
    EXPECT_TRUE(unwritten[0].endingLost);
    EXPECT_EQ(unwritten[0].records, 39);
    EXPECT_EQ(unwritten[0].polls, 39 * 20);
    EXPECT_EQ(unwritten[0].states, 2);
    // No other copy takes it for a crashed test while this program lives.
    EXPECT_FALSE(TestLock::tryAcquire(file, "t"));
    EXPECT_EQ(messages.all().size(), 2);
}

TEST_F(ArchiveBadConditions, ADamagedFileIsKeptAsideAndANewArchiveStarted) {
    const QByteArray notADatabase = QByteArray("测试记录，不是数据库\n").repeated(300);
    // A real archive whose first page (the schema) was overwritten.
    QByteArray damaged;
    {
        ArchiveWriter writer(path(), {});
        writer.beginTest(Header("old"));
        ASSERT_TRUE(writer.flush(30000));
    }
    damaged = ReadFile(path());
    ASSERT_GT(damaged.size(), 4096);
    damaged.replace(100, 3996, QByteArray(3996, '\xA5'));

    for (const QByteArray& content : {notADatabase, damaged}) {
        for (const QString& old : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.filePath(old));
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();

        Messages messages;
        {
            ArchiveWriter writer(path(), messages.handler());
            writer.beginTest(Header("t"));
            writer.addRecord("t", Record(1));
            ASSERT_TRUE(writer.flush(30000));
            EXPECT_FALSE(writer.failed());
        }
        const QStringList aside =
            QDir(dir.path()).entryList({"kivo.sqlite.damaged-*"}, QDir::Files);
        ASSERT_EQ(aside.size(), 1) << QDir(dir.path()).entryList().join(' ').toStdString();
        const QString asidePath = dir.filePath(aside[0]);
        EXPECT_EQ(ReadFile(asidePath), content);
        ASSERT_EQ(messages.all().size(), 1);
        const QString text = messages.all()[0];
        EXPECT_TRUE(text.contains(path() + "，") || text.contains(path() + " "))
            << text.toStdString();
        EXPECT_TRUE(text.contains(asidePath)) << text.toStdString();
        auto reader = ArchiveReader::open(path(), nullptr);
        ASSERT_TRUE(reader);
        ASSERT_EQ(reader->listTests().size(), 1u);
        EXPECT_EQ(reader->listTests()[0].recordCount, 1);
    }
}

TEST_F(ArchiveBadConditions, AnArchiveBusyLongerThanTheWaitIsGivenUp) {
    bool flushed = true;
    const QStringList messages = writeWhileHeld(3000, 500, &flushed);
    EXPECT_FALSE(flushed);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(path())) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("占用超过 0.5 秒")))
        << messages[0].toStdString();
}

TEST_F(ArchiveBadConditions, AnArchiveBusyForAMomentIsWaitedFor) {
    bool flushed = false;
    const QStringList messages = writeWhileHeld(800, kBusyTimeoutMs, &flushed);
    EXPECT_TRUE(flushed);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
    auto reader = ArchiveReader::open(path(), nullptr);
    EXPECT_EQ(reader->listTests().at(0).recordCount, 1);
}

TEST_F(ArchiveBadConditions, AStalledDiskDropsTheOldestPollsButNoRecord) {
    Messages messages;
    ArchiveWriter::Options options;
    options.maxWaitingPolls = 10;
    options.busyTimeoutMs = 60000;
    ArchiveWriter writer(path(), messages.handler(), options);
    writer.beginTest(Header("t"));
    ASSERT_TRUE(writer.flush(30000));
    {
        // Another connection keeps the archive busy while the writer's queue fills up.
        Connection blocker(path(), SQLITE_OPEN_READWRITE);
        blocker.exec("BEGIN EXCLUSIVE");
        writer.addRecord("t", Record(1));
        for (int n = 0; n < 100; ++n) writer.addPoll("t", Poll(n));
        writer.addRecord("t", Record(2));
        writer.changeState("t", TestState::Paused, 5);
        EXPECT_FALSE(writer.flush(50));
        blocker.exec("COMMIT");
    }
    ASSERT_TRUE(writer.flush(20000));
    EXPECT_EQ(writer.droppedPolls(), 90);
    EXPECT_TRUE(messages.all().isEmpty());
    auto reader = ArchiveReader::open(path(), nullptr);
    const auto test = reader->loadTest(reader->listTests().at(0).id);
    EXPECT_EQ(test->records, (std::vector{Record(1), Record(2)}));
    EXPECT_EQ(test->state, TestState::Paused);
    std::vector<PollRow> newest;
    for (int n = 90; n < 100; ++n) newest.push_back(Poll(n));
    EXPECT_EQ(reader->polls(test->id), newest);
}

TEST_F(ArchiveBadConditions, PollsDroppedInAFailureAreNamedWhenTheArchiveIsBack) {
    Messages messages;
    ArchiveWriter::Options options;
    options.maxWaitingPolls = 10;
    options.busyTimeoutMs = 200;
    options.retryMs = 50;  // the timed retry brings it back
    ArchiveWriter writer(path(), messages.handler(), options);
    writer.beginTest(Header("t"));
    for (int n = 0; n < 20; ++n) {
        writer.addPoll("t", Poll(n));
        if (n % 5 == 4) {
            ASSERT_TRUE(writer.flush(10000));
        }
    }
    {
        Connection blocker(path(), SQLITE_OPEN_READWRITE);
        blocker.exec("BEGIN EXCLUSIVE");
        writer.addRecord("t", Record(1));
        ASSERT_TRUE(WaitFor([&] { return writer.failed(); }, 20000));
        for (int n = 20; n < 120; ++n) writer.addPoll("t", Poll(n));
        blocker.exec("COMMIT");
    }
    ASSERT_TRUE(WaitFor([&] { return !writer.failed(); }, 20000));
    ASSERT_TRUE(writer.flush(10000));
    EXPECT_EQ(writer.droppedPolls(), 90);
    ASSERT_EQ(messages.all().size(), 2);
    EXPECT_TRUE(messages.all()[1].contains(QStringLiteral("最早的 90 次轮询数据未能保存")))
        << messages.all()[1].toStdString();
    EXPECT_FALSE(messages.all()[1].contains(QStringLiteral("记录已全部补写。")));
    auto reader = ArchiveReader::open(path(), nullptr);
    const auto test = reader->loadTest(reader->listTests().at(0).id);
    EXPECT_EQ(test->records, std::vector{Record(1)});
    std::vector<PollRow> kept;  // those committed before, once each, and the newest ten
    for (int n = 0; n < 20; ++n) kept.push_back(Poll(n));
    for (int n = 110; n < 120; ++n) kept.push_back(Poll(n));
    EXPECT_EQ(reader->polls(test->id), kept);
}

}  // namespace
