// The archive's failure paths keep their word: a damaged archive is moved aside only by a
// writer that has it alone, and only the file found damaged, and the test under way is written
// anew into the new one; a closed test's lock goes only once its ending is in the archive, or
// beside it for the next program, and an ending the archive refuses is left beside it at once;
// another program's ending is taken up while the writer runs; the lock files are the group's
// whatever the umask; an archive that cannot run its WAL journal, or of a newer program, is
// named once and left alone, with no promise to retry.

#include <sys/stat.h>

#include <atomic>
#include <map>
#include <thread>

#include "archive/archive_open.h"
#include "archive/archive_use.h"
#include "archive/lock_folder.h"
#include "archive/sqlite_handle.h"
#include "archive/test_endings.h"
#include "archive/test_lock.h"
#include "archive/writer_endings.h"
#include "archive_fixture.h"
#include "stalling_vfs.h"

namespace {

using namespace ArchiveTesting;

const QByteArray kGarbage = QByteArray("实验记录，不是数据库\n").repeated(400);

class ArchiveHealing : public ArchiveTest {
  protected:
    void TearDown() override {
        if (!m_immutable.isEmpty()) RunProgram("chattr", {"-i", m_immutable});
    }
    void damage() {
        for (const char* suffix : {"-wal", "-shm"}) QFile::remove(path() + suffix);
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(kGarbage);
    }
    QStringList aside() const {
        return QDir(dir.path()).entryList({"kivo.sqlite.damaged-*"}, QDir::Files);
    }
    std::optional<ArchivedTest> onlyTest() const {
        auto reader = ArchiveReader::open(path(), nullptr);
        if (!reader || reader->listTests().size() != 1) return std::nullopt;
        return reader->loadTest(reader->listTests()[0].id);
    }
    static int Mode(const QString& file) {
        struct stat st {};
        return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    }
    QString m_immutable;
};

TEST_F(ArchiveHealing, ADamagedArchiveIsReplacedAndTheTestUnderWayWrittenAnewWhole) {
    Messages messages;
    ArchiveWriter::Options options;
    options.busyTimeoutMs = 200;
    options.retryMs = 3'600'000;  // here only a new record tries again
    ArchiveWriter writer(path(), messages.handler(), options);
    writer.beginTest(Header("t"));
    writer.changeState("t", TestState::Paused, 7);
    std::vector<PollRow> polls;
    for (int n = 1; n <= 3; ++n) {
        writer.addRecord("t", Record(n));
        for (int p = 0; p < 20; ++p) polls.push_back(Poll(n * 20 + p));
        for (int p = 0; p < 20; ++p) writer.addPoll("t", polls[size_t((n - 1) * 20 + p)]);
    }
    ASSERT_TRUE(writer.flush(30000));
    {
        // A write that fails lets go of the file; meanwhile it is damaged.
        Connection blocker(path(), SQLITE_OPEN_READWRITE);
        blocker.exec("BEGIN EXCLUSIVE");
        writer.addRecord("t", Record(4));
        ASSERT_TRUE(WaitFor([&] { return writer.failed(); }));
        blocker.exec("COMMIT");
    }
    damage();
    writer.addRecord("t", Record(5));
    ASSERT_TRUE(writer.flush(30000));
    EXPECT_FALSE(writer.failed());

    ASSERT_EQ(aside().size(), 1);
    EXPECT_EQ(ReadFile(dir.filePath(aside()[0])), kGarbage);
    const std::optional<ArchivedTest> test = onlyTest();
    ASSERT_TRUE(test);
    EXPECT_EQ(test->header, Header("t"));
    EXPECT_EQ(test->state, TestState::Paused);
    EXPECT_EQ(test->records, (std::vector{Record(1), Record(2), Record(3), Record(4), Record(5)}));
    EXPECT_EQ(ArchiveReader::open(path(), nullptr)->polls(test->id), polls);
    const QStringList said = messages.all();
    ASSERT_EQ(said.size(), 3) << said.join('|').toStdString();
    EXPECT_TRUE(said[0].contains(QStringLiteral("占用"))) << said[0].toStdString();
    EXPECT_TRUE(said[1].contains(dir.filePath(aside()[0]))) << said[1].toStdString();
    EXPECT_EQ(said[2],
              QStringLiteral("测试档案已恢复写入：%1。此前未能写入的记录已全部补写。").arg(path()));
}

TEST_F(ArchiveHealing, TwoWritersMeetingOneDamageLeaveOneFileAsideAndBothTestsInTheArchive) {
    {
        ArchiveWriter writer(path(), {});
        writer.beginTest(Header("old"));
        ASSERT_TRUE(writer.flush(10000));
    }
    {
        // The schema stays readable, the test table and its indexes are garbage: the damage
        // is met only when a test is written.
        std::vector<qint64> pages;
        {
            Connection db(path(), SQLITE_OPEN_READWRITE);
            db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
            Statement roots(db, "SELECT rootpage FROM sqlite_schema WHERE tbl_name = 'test'");
            while (roots.step()) pages.push_back(roots.integer(0));
        }
        ASSERT_FALSE(pages.empty());
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        for (const qint64 page : pages) {
            ASSERT_GT(page, 1);
            file.seek((page - 1) * 4096);
            file.write(QByteArray(4096, '\xA5'));
        }
    }
    ArchiveWriter::Options options;
    options.busyTimeoutMs = 200;
    options.retryMs = 3'600'000;  // here only a new record tries again
    Messages saidToA;
    auto a = std::make_unique<ArchiveWriter>(path(), saidToA.handler(), options);
    a->beginTest(Header("a"));
    EXPECT_FALSE(a->flush(10000));  // A meets the damage while writing
    ASSERT_TRUE(aside().isEmpty());

    auto b = std::make_unique<ArchiveWriter>(path(), nullptr, options);
    b->beginTest(Header("b"));
    b->addRecord("b", Record(1));
    EXPECT_FALSE(b->flush(10000));  // so does B, which then finds itself alone and heals it
    b->addRecord("b", Record(2));
    ASSERT_TRUE(b->flush(10000));
    ASSERT_EQ(aside().size(), 1);

    a->addRecord("a", Record(1));  // A writes into the healed archive, B still in it
    ASSERT_TRUE(a->flush(10000)) << saidToA.all().join('|').toStdString();
    b.reset();
    a->addRecord("a", Record(2));
    ASSERT_TRUE(a->flush(10000));
    a.reset();

    EXPECT_EQ(aside().size(), 1);
    auto reader = ArchiveReader::open(path(), nullptr);
    ASSERT_TRUE(reader);
    std::map<QString, int> records;
    for (const TestSummary& test : reader->listTests()) records[test.uid] = test.recordCount;
    EXPECT_EQ(records, (std::map<QString, int>{{"a", 2}, {"b", 2}}));
    for (const QString& text : saidToA.all())
        EXPECT_FALSE(text.contains(QStringLiteral("另一个程序正在使用"))) << text.toStdString();
}

TEST_F(ArchiveHealing, AReaderLeavesADamagedArchiveAloneAndTheWriterWaitsUntilItIsAlone) {
    damage();
    QString message;
    EXPECT_FALSE(ArchiveReader::open(path(), &message));
    EXPECT_TRUE(message.contains(path()) && message.contains(QStringLiteral("已损坏")))
        << message.toStdString();

    auto otherCopy = std::make_unique<ArchiveUse>(path());  // has the file open
    Messages messages;
    ArchiveWriter::Options options;
    options.retryMs = 3'600'000;
    ArchiveWriter writer(path(), messages.handler(), options);
    writer.beginTest(Header("t"));
    writer.addRecord("t", Record(1));
    EXPECT_FALSE(writer.flush(10000));
    EXPECT_EQ(ReadFile(path()), kGarbage);
    EXPECT_TRUE(aside().isEmpty());
    ASSERT_EQ(messages.all().size(), 1);
    EXPECT_TRUE(messages.all()[0].contains(QStringLiteral("另一个程序正在使用")))
        << messages.all()[0].toStdString();

    otherCopy.reset();
    writer.addRecord("t", Record(2));
    ASSERT_TRUE(writer.flush(30000));
    ASSERT_EQ(aside().size(), 1);
    EXPECT_EQ(ReadFile(dir.filePath(aside()[0])), kGarbage);
    const std::optional<ArchivedTest> test = onlyTest();
    ASSERT_TRUE(test);
    EXPECT_EQ(test->records, (std::vector{Record(1), Record(2)}));
}

TEST_F(ArchiveHealing, AClosedTestsLockGoesOnlyOnceItsEndingIsInTheArchiveOrBesideIt) {
    const QString closed = UniqueUid(), left = UniqueUid();
    {
        // The archive busy for a moment: the lock waits for the ending's commit.
        ArchiveWriter writer(path(), {});
        writer.beginTest(Header(closed));
        ASSERT_TRUE(writer.flush(30000));
        std::unique_ptr<TestLock> lock = TestLock::tryAcquire(path(), closed);
        ASSERT_TRUE(lock);
        Connection blocker(path(), SQLITE_OPEN_READWRITE);
        blocker.exec("BEGIN EXCLUSIVE");
        writer.changeState(closed, TestState::Closed, 9);
        writer.release(std::move(lock));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_FALSE(TestLock::tryAcquire(path(), closed));  // another copy leaves it alone
        blocker.exec("COMMIT");
        ASSERT_TRUE(writer.flush(30000));
        EXPECT_TRUE(TestLock::tryAcquire(path(), closed));
    }
    {
        // An exit whose writes cannot be finished: the ending is left beside the archive.
        Connection blocker(path(), SQLITE_OPEN_READWRITE);
        ArchiveWriter::Options options;
        options.busyTimeoutMs = 200;
        options.closeWaitMs = 300;
        ArchiveWriter writer(path(), {}, options);
        writer.beginTest(Header(left, 1'796'000'100'000));
        writer.addRecord(left, Record(1));
        ASSERT_TRUE(writer.flush(30000));
        std::unique_ptr<TestLock> lock = TestLock::tryAcquire(path(), left);
        ASSERT_TRUE(lock);
        blocker.exec("BEGIN EXCLUSIVE");
        writer.addRecord(left, Record(2));
        writer.changeState(left, TestState::FinishedByMinutes, 10);
        writer.changeState(left, TestState::Closed, 11);
        writer.release(std::move(lock));
        const std::vector<ArchiveWriter::Unwritten> unwritten = writer.close();
        ASSERT_EQ(unwritten.size(), 1u);
        EXPECT_EQ(unwritten[0].test, QStringLiteral("2026-12-8 08:05:09 开始的实验"));
        EXPECT_EQ(unwritten[0].records, 1);
        EXPECT_EQ(unwritten[0].polls, 0);
        EXPECT_EQ(unwritten[0].states, 2);
        EXPECT_FALSE(unwritten[0].endingLost);
        EXPECT_TRUE(TestEndings::pending(path(), left));
        EXPECT_FALSE(TestLock::tryAcquire(path(), left));  // never offered as crashed
        blocker.exec("COMMIT");
    }
    auto reader = ArchiveReader::open(path(), nullptr);
    ASSERT_EQ(reader->unfinishedTests().size(), 1u);  // as the archive has it, still running
    ArchiveWriter next(path(), {});
    // The next program writes the ending; then the lock is free and the test ended.
    ASSERT_TRUE(WaitFor(
        [&] { return reader->unfinishedTests().empty() && TestLock::tryAcquire(path(), left); }));
    EXPECT_FALSE(TestEndings::pending(path(), left));
    const auto b = reader->loadTest(reader->listTests().at(0).id);
    EXPECT_EQ(b->state, TestState::FinishedByMinutes);
    EXPECT_TRUE(b->closed);
    EXPECT_EQ(b->records, std::vector{Record(1)});
}

// The disk stalls while a test's ending is being committed, and the program ends: the writer's
// thread is left behind, and the file beside the archive holds every change not written, the
// one under way first; the lock goes only after.
TEST_F(ArchiveHealing, AnEndingUnderWayOnAStalledDiskIsLeftBesideTheArchiveWithWhatFollows) {
    const QString uid = UniqueUid();
    ArchiveWriter::Options options;
    options.busyTimeoutMs = 100;
    options.closeWaitMs = 200;
    StallingVfs::makeDefault(true);
    ArchiveWriter writer(path(), {}, options);
    writer.beginTest(Header(uid));
    const bool begun = writer.flush(30000);
    StallingVfs::makeDefault(false);
    ASSERT_TRUE(begun);
    std::unique_ptr<TestLock> lock = TestLock::tryAcquire(path(), uid);
    ASSERT_TRUE(lock);

    StallingVfs::stall();
    writer.changeState(uid, TestState::FinishedByMinutes, 10);
    const bool stalled = StallingVfs::waitStalled(30000);
    writer.changeState(uid, TestState::Closed, 11);
    writer.release(std::move(lock));
    const std::vector<ArchiveWriter::Unwritten> unwritten = writer.close();
    const std::vector<StateChange> left = TestEndings::read(path(), uid);
    const bool offered = TestLock::tryAcquire(path(), uid) != nullptr;
    StallingVfs::resume();
    ASSERT_TRUE(StallingVfs::waitAllClosed(30000));
    ASSERT_TRUE(stalled);
    EXPECT_EQ(left, (std::vector<StateChange>{{TestState::FinishedByMinutes, 10},
                                              {TestState::Closed, 11}}));
    EXPECT_FALSE(offered);
    ASSERT_EQ(unwritten.size(), 1u);
    EXPECT_EQ(unwritten[0].states, 2);
}

// Two writers of one test's ending (a close that left its thread on a stalled disk, and that
// thread): each puts a whole file in place, and once the close has sealed the thread's endings,
// the thread neither replaces nor removes what the close left.
TEST_F(ArchiveHealing, TwoWritersOfOneEndingEachPutAWholeFileAndNoneAfterTheSeal) {
    const QString uid = UniqueUid();
    const auto changes = [](TestState state, int count) {
        std::vector<StateChange> list;
        for (int n = 0; n < count; ++n) list.push_back({state, n});
        return list;
    };
    const std::vector<StateChange> shorter = changes(TestState::Paused, 150);
    const std::vector<StateChange> longer = changes(TestState::Closed, 400);
    std::atomic<int> failures = 0;
    const auto leaveOften = [&](const std::vector<StateChange>& list) {
        for (int n = 0; n < 60; ++n) failures += TestEndings::leave(path(), uid, list) ? 0 : 1;
    };
    std::thread other(leaveOften, shorter);
    leaveOften(longer);
    other.join();
    EXPECT_EQ(failures, 0);
    const std::vector<StateChange> left = TestEndings::read(path(), uid);
    EXPECT_TRUE(left == shorter || left == longer) << left.size();

    writer::OwnEndings thread(path());
    thread.leaveAhead(uid, shorter);
    thread.seal();
    ASSERT_TRUE(TestEndings::leave(path(), uid, longer));
    thread.leaveAhead(uid, changes(TestState::Paused, 151));
    EXPECT_EQ(TestEndings::read(path(), uid), longer);
    thread.update({});  // all written, as the thread sees it
    EXPECT_EQ(TestEndings::read(path(), uid), longer);
    // A close that could leave nothing of its own: the thread's ending goes where none is,
    // and the close's, written later, still takes its place.
    TestEndings::remove(path(), uid);
    thread.leaveAhead(uid, changes(TestState::Paused, 152));
    EXPECT_EQ(TestEndings::read(path(), uid), changes(TestState::Paused, 152));
    ASSERT_TRUE(TestEndings::leave(path(), uid, longer));
    EXPECT_EQ(TestEndings::read(path(), uid), longer);
}

// 关闭 while another program keeps the archive busy: the ending is beside the archive before the
// wait begins, so a kill during the wait leaves the test ended, and the next program writes it.
TEST_F(ArchiveHealing, AnEndingIsLeftBesideTheArchiveBeforeABusyArchiveIsWaitedFor) {
    const QString uid = UniqueUid();
    ChildProcess closer("ArchiveChild.ClosesOnABusyArchive", "close",
                        {{"PATH", path()}, {"UID", uid}});
    ASSERT_TRUE(closer.waitForLine("begun"));
    Connection blocker(path(), SQLITE_OPEN_READWRITE);
    blocker.exec("BEGIN EXCLUSIVE");
    closer.write("go\n");
    ASSERT_TRUE(closer.waitForLine("closing"));
    // The child waits out the busy archive for two minutes; the ending is there long before.
    ASSERT_TRUE(WaitFor([&] { return TestEndings::pending(path(), uid); }, 30000));
    closer.kill();
    closer.wait();
    ASSERT_TRUE(closer.killedBySignal());
    blocker.exec("COMMIT");

    auto reader = ArchiveReader::open(path(), nullptr);
    ASSERT_EQ(reader->unfinishedTests().size(), 1u);  // as the archive has it
    EXPECT_FALSE(TestLock::tryAcquire(path(), uid));  // yet never offered as crashed
    ArchiveWriter next(path(), {});
    // The ending is written first and its file removed after: both are waited for.
    ASSERT_TRUE(WaitFor(
        [&] { return reader->unfinishedTests().empty() && !TestEndings::pending(path(), uid); },
        20000));
    const auto test = reader->loadTest(reader->listTests().at(0).id);
    EXPECT_EQ(test->states, (std::vector<StateChange>{{TestState::Closed, 9}}));
    EXPECT_TRUE(test->closed);
}

// A recovered test closed while its archive cannot be opened any more (its share gone, a
// folder in the file's place): the writer never took the test up, and its ending is left
// beside the archive all the same.
TEST_F(ArchiveHealing, ARecoveredTestsEndingIsLeftBesideTheArchiveThoughItFailedBeforeTheTakeUp) {
    const QString uid = UniqueUid();
    const QString share = dir.filePath("share"), moved = dir.filePath("moved");
    const QString file = share + "/kivo.sqlite";
    ASSERT_TRUE(QDir().mkpath(share));
    {
        ArchiveWriter first(file, {});
        first.beginTest(Header(uid));
        first.addRecord(uid, Record(1));
        ASSERT_TRUE(first.flush(30000));
    }
    std::optional<ArchivedTest> recovered;
    {
        auto reader = ArchiveReader::open(file, nullptr);
        ASSERT_TRUE(reader);
        recovered = reader->loadTest(reader->listTests().at(0).id);
    }
    ASSERT_TRUE(recovered);
    ASSERT_TRUE(QDir().rename(share, moved));
    ASSERT_TRUE(QDir().mkpath(file));  // no archive can be opened there

    Messages messages;
    ArchiveWriter::Options options;
    options.retryMs = 3'600'000;
    ArchiveWriter writer(file, messages.handler(), options);
    std::unique_ptr<TestLock> lock = TestLock::tryAcquire(file, uid);
    ASSERT_TRUE(lock);
    writer.resumeTest(*recovered);
    writer.changeState(uid, TestState::Closed, 9);
    writer.release(std::move(lock));
    ASSERT_TRUE(WaitFor([&] { return TestEndings::pending(file, uid); }, 20000))
        << messages.all().join('|').toStdString();
    EXPECT_FALSE(TestLock::tryAcquire(file, uid));  // never offered as crashed
    const std::vector<ArchiveWriter::Unwritten> unwritten = writer.close();
    ASSERT_EQ(unwritten.size(), 1u);
    EXPECT_EQ(unwritten[0].states, 1);
    EXPECT_FALSE(unwritten[0].endingLost);

    // The share back: the next program writes the ending.
    ASSERT_TRUE(QDir(file).removeRecursively());
    ASSERT_TRUE(QFile::rename(moved + "/kivo.sqlite", file));
    ArchiveWriter next(file, {});
    auto reader = ArchiveReader::open(file, nullptr);
    ASSERT_TRUE(reader);
    ASSERT_TRUE(WaitFor([&] { return reader->unfinishedTests().empty(); }, 20000));
    EXPECT_TRUE(reader->loadTest(reader->listTests().at(0).id)->closed);
}

TEST_F(ArchiveHealing, AnEndingTheArchiveRefusesIsLeftBesideItAtOnceAndGoesOnceWritten) {
    ArchiveWriter::Options options;
    options.busyTimeoutMs = 200;
    options.retryMs = 3'600'000;
    Messages messages;
    ArchiveWriter writer(path(), messages.handler(), options);
    writer.beginTest(Header("t"));
    writer.addRecord("t", Record(1));
    ASSERT_TRUE(writer.flush(10000));
    std::unique_ptr<TestLock> lock = TestLock::tryAcquire(path(), "t");
    ASSERT_TRUE(lock);
    {
        Connection blocker(path(), SQLITE_OPEN_READWRITE);
        blocker.exec("BEGIN EXCLUSIVE");
        writer.changeState("t", TestState::Paused, 5);
        ASSERT_TRUE(WaitFor([&] { return writer.failed(); }, 20000));
        EXPECT_FALSE(TestEndings::pending(path(), "t"));  // a pause ends nothing
        writer.changeState("t", TestState::FinishedByMinutes, 10);
        // Left while the window is still open: a kill from here on leaves the test ended.
        ASSERT_TRUE(WaitFor([&] { return TestEndings::pending(path(), "t"); }, 20000));
        EXPECT_EQ(
            TestEndings::read(path(), "t"),
            (std::vector<StateChange>{{TestState::Paused, 5}, {TestState::FinishedByMinutes, 10}}));
        writer.changeState("t", TestState::Closed, 11);
        writer.release(std::move(lock));
        ASSERT_TRUE(WaitFor([&] { return TestEndings::read(path(), "t").size() == 3; }, 20000));
        EXPECT_FALSE(TestLock::tryAcquire(path(), "t"));
        blocker.exec("COMMIT");
    }
    writer.addRecord("t", Record(2));
    ASSERT_TRUE(writer.flush(10000));
    EXPECT_FALSE(TestEndings::pending(path(), "t"));
    auto reader = ArchiveReader::open(path(), nullptr);
    const auto test = reader->loadTest(reader->listTests().at(0).id);
    EXPECT_EQ(
        test->states,  // each once
        (std::vector<StateChange>{
            {TestState::Paused, 5}, {TestState::FinishedByMinutes, 10}, {TestState::Closed, 11}}));
    EXPECT_EQ(test->state, TestState::FinishedByMinutes);
    EXPECT_TRUE(test->closed);
}

TEST_F(ArchiveHealing, AnotherProgramsEndingIsTakenUpWhileTheWriterWorks) {
    {
        ArchiveWriter earlier(path(), {});
        for (const char* uid : {"probe", "other"}) earlier.beginTest(Header(uid));
        earlier.beginTest(Header("mine", 1'796'000'100'000));
        ASSERT_TRUE(earlier.flush(10000));
    }
    // The look as the writer connects takes the probe's ending; it has written nothing since.
    ASSERT_TRUE(TestEndings::leave(path(), "probe", {{TestState::Closed, 5}}));
    ArchiveWriter::Options options;
    options.retryMs = 50;
    options.idleLookMs = 3'600'000;  // here only work brings a look
    ArchiveWriter writer(path(), {}, options);
    ASSERT_TRUE(WaitFor([&] { return !TestEndings::pending(path(), "probe"); }, 20000));
    // The program of "other" ended on a busy archive and left its ending beside it.
    ASSERT_TRUE(TestEndings::leave(path(), "other",
                                   {{TestState::FinishedByInstrument, 7}, {TestState::Closed, 8}}));
    // And the program of a test this archive does not hold (left in an archive moved aside).
    ASSERT_TRUE(TestEndings::leave(path(), "elsewhere", {{TestState::Closed, 9}}));
    // An idle writer does not wake for them at every retry period...
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_TRUE(TestEndings::pending(path(), "other"));
    // ... but looks once it works again.
    writer.addRecord("mine", Record(1));
    auto reader = ArchiveReader::open(path(), nullptr);
    ASSERT_TRUE(WaitFor(
        [&] {
            return reader->unfinishedTests().size() == 1 && !TestEndings::pending(path(), "other");
        },
        20000));
    EXPECT_EQ(reader->unfinishedTests().at(0).uid, "mine");
    EXPECT_TRUE(TestEndings::pending(path(), "elsewhere"));  // taken up before "other", kept
}

TEST_F(ArchiveHealing, AnIdleWritersOwnTickTakesUpAnotherProgramsEnding) {
    ArchiveWriter::Options options;
    options.retryMs = 3'600'000;
    options.idleLookMs = 50;
    ArchiveWriter writer(path(), {}, options);
    for (const char* uid : {"probe", "other"}) writer.beginTest(Header(uid));
    ASSERT_TRUE(writer.flush(10000));
    // The look after that work takes the probe's ending; the next can only be the idle tick.
    ASSERT_TRUE(TestEndings::leave(path(), "probe", {{TestState::Closed, 5}}));
    ASSERT_TRUE(WaitFor([&] { return !TestEndings::pending(path(), "probe"); }, 20000));
    ASSERT_TRUE(TestEndings::leave(path(), "other", {{TestState::Closed, 8}}));
    auto reader = ArchiveReader::open(path(), nullptr);
    EXPECT_TRUE(WaitFor(
        [&] {
            return reader->unfinishedTests().empty() && !TestEndings::pending(path(), "other");
        },
        20000));
}

TEST_F(ArchiveHealing, OnlyWholeEndingFilesAreTakenForEndings) {
    // Not one still being written, a folder, a hidden file or a link that leads nowhere; a
    // link to an ending counts.
    ASSERT_TRUE(TestEndings::leave(path(), "other", {{TestState::Closed, 8}}));
    const QString folder = LockFolder(path()) + '/';
    for (const char* name : {"half.ended.a1B2c3", ".hidden.ended", "x.ended-not"})
        ASSERT_TRUE(QFile(folder + name).open(QIODevice::WriteOnly));
    ASSERT_TRUE(QDir().mkdir(folder + "folder.ended"));
    ASSERT_TRUE(QFile::link(folder + "gone", folder + "dangling.ended"));
    ASSERT_TRUE(QFile::link(folder + "other.ended", folder + "linked.ended"));
    EXPECT_EQ(TestEndings::waiting(path()), QStringList({"linked", "other"}));
}

TEST_F(ArchiveHealing, ANewerProgramsArchiveIsSaidOnceWithoutAPromiseToRetry) {
    {
        Connection db(path(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        db.exec("PRAGMA user_version = 99");
    }
    const QByteArray before = ReadFile(path());
    Messages messages;
    ArchiveWriter::Options options;
    options.retryMs = 50;
    ArchiveWriter writer(path(), messages.handler(), options);
    writer.beginTest(Header("t"));
    EXPECT_FALSE(writer.flush(10000));
    for (int n = 1; n <= 3; ++n) {
        writer.addRecord("t", Record(n));
        writer.addPoll("t", Poll(n));
    }
    EXPECT_FALSE(writer.flush(10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a few retry periods
    const std::vector<ArchiveWriter::Unwritten> unwritten = writer.close();
    ASSERT_EQ(messages.all().size(), 1) << messages.all().join('|').toStdString();
    const QString text = messages.all()[0];
    EXPECT_TRUE(text.contains(QStringLiteral("较新版本")) && text.contains(path()))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("请改用较新版本的程序"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("重试"))) << text.toStdString();
    ASSERT_EQ(unwritten.size(), 1u);
    EXPECT_EQ(unwritten[0].records, 3);
    EXPECT_EQ(ReadFile(path()), before);
}

TEST_F(ArchiveHealing, LockFilesAreTheGroupsWhateverTheUmaskAndALockWithoutItsFileIsSaid) {
    const QString t = UniqueUid(), u = UniqueUid();
    const mode_t former = ::umask(077);
    std::unique_ptr<TestLock> lock = TestLock::tryAcquire(path(), t);
    const auto use = std::make_unique<ArchiveUse>(path());
    const bool left = TestEndings::leave(path(), "e", {{TestState::Closed, 1}});
    ::umask(former);
    ASSERT_TRUE(lock);
    ASSERT_TRUE(left);
    EXPECT_EQ(Mode(LockFolder(path())), 02775);
    EXPECT_EQ(Mode(TestLock::lockPath(path(), t)), 0664);
    EXPECT_EQ(Mode(LockFolder(path()) + "/archive.use"), 0664);
    EXPECT_EQ(Mode(LockFolder(path()) + "/e.ended"), 0664);

    // A lock folder that cannot be made: the test is still held on this computer, and it is said.
    const QString folder = dir.filePath("read-only");
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    if (::access(QFile::encodeName(folder).constData(), W_OK) == 0) {
        m_immutable = folder;
        if (RunProgram("chattr", {"+i", folder}) != 0) GTEST_SKIP() << "no read-only folder here";
    }
    const QString other = QDir(folder).filePath("kivo.sqlite");
    QString unshared;
    std::unique_ptr<TestLock> held = TestLock::tryAcquire(other, u, &unshared);
    ASSERT_TRUE(held);
    EXPECT_TRUE(unshared.contains(TestLock::lockPath(other, u))) << unshared.toStdString();
    EXPECT_TRUE(unshared.contains(QStringLiteral("没有写入权限"))) << unshared.toStdString();
    EXPECT_FALSE(TestLock::tryAcquire(other, u, &unshared));
}

TEST_F(ArchiveHealing, AFileSystemWithoutSharedMemoryIsNamedOnceAndLeftAlone) {
    // SQLite's own VFS without locks or shared memory stands for such a file system.
    sqlite3_vfs* const plain = sqlite3_vfs_find(nullptr);
    sqlite3_vfs* const none = sqlite3_vfs_find("unix-none");
    ASSERT_TRUE(none);
    sqlite3_vfs_register(none, 1);
    Messages messages;
    QString readerMessage;
    {
        ArchiveWriter writer(path(), messages.handler());
        writer.beginTest(Header("t"));
        EXPECT_FALSE(writer.flush(10000));
        EXPECT_FALSE(ArchiveReader::open(path(), &readerMessage));
    }
    sqlite3_vfs_register(plain, 1);
    ASSERT_EQ(messages.all().size(), 1);
    for (const QString& text : {messages.all()[0], readerMessage}) {
        EXPECT_TRUE(text.contains(path())) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("文件系统不支持"))) << text.toStdString();
    }
    EXPECT_TRUE(messages.all()[0].contains(QStringLiteral("本次实验照常进行")));
    EXPECT_FALSE(messages.all()[0].contains(QStringLiteral("重试")));
}

}  // namespace
