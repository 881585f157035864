// The lock of a running test: its machine-wide name belongs to the archive, a name another
// account holds is told from one of ours, a program that cannot make sockets still holds its
// test by the lock file and says what it cannot check, one that can make neither holds it by
// its process mark (which an older program does not mistake for a test nothing holds), and a
// held name answers however many checks come.

#include "archive/test_lock.h"

#include <sys/wait.h>
#include <unistd.h>

#include "archive/archive_schema.h"
#include "archive/lock_key_column.h"
#include "archive/process_mark.h"
#include "archive/sqlite_handle.h"
#include "archive/test_lock_name.h"
#include "archive_fixture.h"

namespace {

using namespace ArchiveTesting;

class ArchiveTestLock : public ArchiveTest {
  protected:
    QString archiveIn(const QString& folder) const {
        EXPECT_TRUE(QDir().mkpath(dir.filePath(folder)));
        return dir.filePath(folder + QStringLiteral("/kivo.sqlite"));
    }
    // Every line the child reports until it says `last`.
    static QList<QByteArray> linesUntil(ChildProcess& child, const QByteArray& last) {
        QList<QByteArray> lines;
        for (int round = 0; round < 300 && !lines.contains(last); ++round)
            lines += child.readLines(100);
        return lines;
    }
};

TEST_F(ArchiveTestLock, OneArchiveHasOneNameByAnyPathAndTwoArchivesNeverShareOne) {
    const QString a = archiveIn("a");
    const QString b = archiveIn("b");
    ASSERT_TRUE(QFile::link(dir.filePath("a"), dir.filePath("c")));
    const QString c = dir.filePath("c/kivo.sqlite");

    EXPECT_EQ(TestLockName(a, "t"), TestLockName(c, "t"));
    EXPECT_EQ(TestLockName(a + ".not-yet", "t"), TestLockName(c + ".not-yet", "t"));
    EXPECT_NE(TestLockName(a, "t"), TestLockName(b, "t"));
    EXPECT_NE(TestLockName(a, "t"), TestLockName(a, "u"));

    // A copied archive holds the same uids: each copy's test runs under its own lock.
    const auto inA = TestLock::tryAcquire(a, "t");
    ASSERT_TRUE(inA);
    EXPECT_TRUE(TestLock::tryAcquire(b, "t"));
    EXPECT_FALSE(TestLock::tryAcquire(c, "t"));
}

// A program starts its test while the archive's folder is not there yet (a share mounted
// late); the folder then appears as a link to another place, so the path resolves otherwise.
// Another program meeting the test checks it under the name it runs by, kept with the test.
TEST_F(ArchiveTestLock, ATestIsCheckedUnderTheNameItStartedWithHoweverThePathResolvesSince) {
    const QString real = archiveIn("real");
    const QString late = dir.filePath("late/kivo.sqlite");
    ChildProcess running("ArchiveChild.RunsATestUnderTheKeyOfItsStart", "run",
                         {{"PATH", late}, {"UID", "t"}});
    ASSERT_TRUE(running.waitForLine("running"));
    ASSERT_TRUE(QFile::link(dir.filePath("real"), dir.filePath("late")));
    ASSERT_TRUE(running.waitForLine("written"));
    EXPECT_TRUE(QFile::exists(real));

    QString message;
    auto reader = ArchiveReader::open(late, &message);
    ASSERT_TRUE(reader) << message.toStdString();
    const std::optional<TestSummary> test = reader->testOf("t");
    ASSERT_TRUE(test);
    EXPECT_NE(test->lockKey, ArchiveLockKey(late)) << "the path resolves otherwise now";
    EXPECT_EQ(reader->loadTest(test->id)->header.lockKey, test->lockKey);
    for (const QString& path : {late, real}) {
        QString why = "?";
        EXPECT_FALSE(TestLock::tryAcquire(path, "t", nullptr, &why, test->lockKey))
            << path.toStdString();
        EXPECT_EQ(why, "") << "held: nothing to explain";
    }

    running.kill();
    running.wait();
    EXPECT_TRUE(TestLock::tryAcquire(real, "t", nullptr, nullptr, test->lockKey));
}

TEST_F(ArchiveTestLock, ANameTakenByAnotherAccountNeitherStopsOurTestNorFreesTheTestItNames) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a process as another account";
    ChildProcess squatter("ArchiveChild.SquatsATestName", "squat",
                          {{"PATH", path()}, {"UID", "t"}});
    ASSERT_TRUE(squatter.waitForLine("bound"));

    // A test of ours under that name still runs locked, by its file, and nothing is said.
    QString unshared = "?";
    auto running = TestLock::tryAcquire(path(), "t", &unshared);
    ASSERT_TRUE(running);
    EXPECT_EQ(unshared, "");
    QString why = "?";
    EXPECT_FALSE(TestLock::tryAcquire(path(), "t", nullptr, &why));
    EXPECT_EQ(why, "") << "held: nothing to explain";

    // Once our program has let go, the name still keeps everyone off the test, and says why.
    running.reset();
    EXPECT_FALSE(TestLock::tryAcquire(path(), "t", nullptr, &why));
    EXPECT_TRUE(why.contains("uid 为 65534")) << why.toStdString();
    squatter.kill();
    squatter.wait();
    EXPECT_TRUE(TestLock::tryAcquire(path(), "t", nullptr, &why));
    EXPECT_EQ(why, "");
}

TEST_F(ArchiveTestLock, WithoutSocketsATestIsHeldByItsFileAndWhatCannotBeCheckedIsSaid) {
    // The second archive's lock folder cannot be made: a file has its name.
    const QString bare = archiveIn("bare");
    QFile blocker(bare + ".locks");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    ChildProcess sandboxed("ArchiveChild.LocksWithoutSockets", "sandbox",
                           {{"PATH", path()}, {"BARE", bare}});
    const QList<QByteArray> lines = linesUntil(sandboxed, "done");
    ASSERT_TRUE(lines.contains("done")) << lines.join('|').toStdString();
    if (lines.contains("no sandbox")) GTEST_SKIP() << "seccomp filters are not allowed here";
    ASSERT_EQ(lines.size(), 4) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], "locked") << "the file alone holds the running test, said to nobody";
    EXPECT_TRUE(QString::fromUtf8(lines[1]).startsWith("checked: 无法确认这项实验是否仍在运行"))
        << lines[1].toStdString();
    EXPECT_TRUE(QString::fromUtf8(lines[1]).contains("系统不允许")) << lines[1].toStdString();
    EXPECT_TRUE(QString::fromUtf8(lines[2]).startsWith("unlocked: 实验锁 "))
        << lines[2].toStdString();
    EXPECT_TRUE(QString::fromUtf8(lines[2]).contains("其他程序不会恢复或删除"))
        << lines[2].toStdString();

    // Its test is never offered here while the sandboxed program runs it.
    QString why;
    EXPECT_FALSE(TestLock::tryAcquire(path(), "t", nullptr, &why));
    EXPECT_EQ(why, "");
    sandboxed.kill();
    sandboxed.wait();
    EXPECT_TRUE(TestLock::tryAcquire(path(), "t"));
}

// A program out of file descriptors can make neither its test's lock file nor its name: it
// says so, and its test is held by the process mark kept with it, until the process dies.
TEST_F(ArchiveTestLock, ATestRunWithoutAnyLockIsHeldByItsProcessMarkUntilItsProgramDies) {
    ChildProcess running("ArchiveChild.RunsATestOutOfFileDescriptors", "nofile",
                         {{"PATH", path()}, {"UID", "t"}});
    const QList<QByteArray> lines = linesUntil(running, "written");
    ASSERT_TRUE(lines.contains("written")) << lines.join('|').toStdString();
    const QString said = QString::fromUtf8(lines.value(0));
    EXPECT_TRUE(said.startsWith("unlocked: 实验锁 ") && said.contains("打开的文件过多") &&
                said.contains("其他程序不会恢复或删除"))
        << said.toStdString();

    QString message;
    auto reader = ArchiveReader::open(path(), &message);
    ASSERT_TRUE(reader) << message.toStdString();
    const std::optional<TestSummary> test = reader->testOf("t");
    ASSERT_TRUE(test);
    EXPECT_EQ("mark: " + test->lockHolder.toUtf8(), lines.value(1));
    const std::optional<ProcessMark> mark = ProcessMark::parse(test->lockHolder);
    ASSERT_TRUE(mark) << test->lockHolder.toStdString();
    EXPECT_FALSE(mark->bootId.isEmpty() || mark->startTime.isEmpty()) << "read whole at start";
    // The mark rides with the key of the test's name, which every check still derives alone.
    EXPECT_EQ(test->lockKey, ArchiveLockKey(path()));
    const std::optional<ArchivedTest> loaded = reader->loadTest(test->id);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->header.lockKey, test->lockKey);
    EXPECT_EQ(loaded->header.lockHolder, test->lockHolder);
    {
        // A bench still running the program before the mark keeps archiving into it.
        Connection db(path(), SQLITE_OPEN_READONLY);
        EXPECT_EQ(ArchiveVersion(db), 4);
    }
    QString why = "?";
    EXPECT_FALSE(TestLock::tryAcquire(path(), "t", nullptr, &why, test->lockKey, test->lockHolder));
    EXPECT_EQ(why, "") << "held: nothing to explain";

    running.kill();
    running.wait();
    EXPECT_TRUE(TestLock::tryAcquire(path(), "t", nullptr, &why, test->lockKey, test->lockHolder))
        << why.toStdString();
}

TEST_F(ArchiveTestLock, AProcessMarkHoldsItsTestWhileItsProcessLivesAndOnlyWhereItCanBeChecked) {
    const ProcessMark own = ReadOwnProcessMark();
    ASSERT_FALSE(own.machineId.isEmpty() || own.bootId.isEmpty() || own.pidNamespace.isEmpty() ||
                 own.startTime.isEmpty() || own.uptime < 0)
        << own.text().toStdString();
    const pid_t ended = ::fork();
    if (ended == 0) ::_exit(0);
    ASSERT_GT(ended, 0);
    ::waitpid(ended, nullptr, 0);
    const auto with = [&own](auto change) {
        ProcessMark mark = own;
        change(mark);
        return mark.text();
    };
    const ThisComputer here = ThisComputer::now();
    ThisComputer rebooted = here;
    rebooted.bootId = "another-boot";
    rebooted.uptime = 0;
    ThisComputer unnamed = here;  // no machine id to be read
    unnamed.machineId.clear();
    QStringList badPid = own.text().split('/');
    badPid[3] = "12x";

    struct Case {
        const char* what;
        QString mark;
        const ThisComputer& at;
        MarkedProcess is;
    };
    const Case cases[] = {
        {"no mark: the locks alone tell", "", here, MarkedProcess::None},
        {"this process", own.text(), here, MarkedProcess::Alive},
        {"its pid, without a start time", with([](auto& m) { m.startTime.clear(); }), here,
         MarkedProcess::Alive},
        {"its pid without a start time, the mark read before it started: another process",
         with([](auto& m) {
             m.startTime.clear();
             m.uptime = 0;
         }),
         here, MarkedProcess::Gone},
        {"its pid, the boot not known", with([](auto& m) { m.bootId.clear(); }), here,
         MarkedProcess::Alive},
        {"its pid, started at another time: another process",
         with([](auto& m) { m.startTime = "1"; }), here, MarkedProcess::Gone},
        {"a process that ended", with([&](auto& m) { m.pid = ended; }), here, MarkedProcess::Gone},
        {"this computer started again", own.text(), rebooted, MarkedProcess::Gone},
        {"no boot id, this computer started again", with([](auto& m) { m.bootId.clear(); }),
         rebooted, MarkedProcess::Gone},
        {"another computer of the same name", with([](auto& m) { m.machineId = "0123abcd"; }), here,
         MarkedProcess::AnotherComputer},
        {"a computer not known", with([](auto& m) {
             m.machineId.clear();
             m.bootId = "another-boot";
         }),
         here, MarkedProcess::AnotherComputer},
        {"no machine id there, this boot's id: this computer",
         with([](auto& m) { m.machineId.clear(); }), here, MarkedProcess::Alive},
        {"no machine id here, this boot's id: this computer", own.text(), unnamed,
         MarkedProcess::Alive},
        {"no machine id here, a mark without a boot id", with([](auto& m) { m.bootId.clear(); }),
         unnamed, MarkedProcess::AnotherComputer},
        {"another pid namespace here", with([](auto& m) { m.pidNamespace = "1"; }), here,
         MarkedProcess::AnotherSandbox},
        {"a pid that is no number", badPid.join('/'), here, MarkedProcess::None},
        {"a mark cut short", own.text().section('/', 0, 3), here, MarkedProcess::None},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckProcessMark(c.mark, c.at), c.is) << c.what;
        if (&c.at != &here) continue;
        // The lock goes by the same answer, and says why whenever it cannot tell.
        QString why = "?";
        auto lock = TestLock::tryAcquire(path(), "t", nullptr, &why, {}, c.mark);
        EXPECT_EQ(bool(lock), c.is == MarkedProcess::None || c.is == MarkedProcess::Gone) << c.what;
        const bool told =
            c.is == MarkedProcess::AnotherComputer || c.is == MarkedProcess::AnotherSandbox;
        EXPECT_EQ(!why.isEmpty(), told) << c.what << ": " << why.toStdString();
    }
}

// The computer's name comes from the archive: it is shown short and as written.
TEST_F(ArchiveTestLock, AMarkNamesItsComputerShortAndPrintable) {
    ProcessMark mark = ReadOwnProcessMark();
    mark.machineId = "0123abcd";
    mark.host = "<b>lab</b>\n" + QString(200, 'x');
    QString host;
    EXPECT_EQ(CheckProcessMark(mark.text(), &host), MarkedProcess::AnotherComputer);
    EXPECT_TRUE(host.startsWith("<b>lab<b>")) << host.toStdString();
    EXPECT_EQ(host.size(), 64);
}

// A program before the process mark takes a marked test's whole lock_key column for its key:
// the test's program holds the name made from it too, so that program stays off the test even
// once it could make the lock file.
TEST_F(ArchiveTestLock, AnOlderProgramReadingAMarkedKeyWholeFindsTheTestHeld) {
    const QString lockFile = TestLock::lockPath(path(), "t");
    ASSERT_TRUE(QDir().mkpath(lockFile));  // a folder has its name: the file cannot be made
    const QString key = ArchiveLockKey(path());
    QString unshared;
    const auto running = TestLock::tryAcquire(path(), "t", &unshared, nullptr, key);
    ASSERT_TRUE(running);
    ASSERT_NE(unshared, "") << "held by its name alone";
    const QString column = LockKeyColumn(key, ReadOwnProcessMark().text());
    running->holdNameAlso(path(), column);
    ASSERT_TRUE(QDir().rmdir(lockFile));

    QString why = "?";
    EXPECT_FALSE(TestLock::tryAcquire(path(), "t", nullptr, &why, column));
    EXPECT_EQ(why, "") << "held: nothing to explain";
}

// Every check of a test connects to its name; a holder that never accepted them would fill its
// queue, and a test held by its name alone (its lock file cannot be made: a folder has its
// name) could then no longer be asked about.
TEST_F(ArchiveTestLock, AHeldNameAnswersEveryCheckHoweverManyCome) {
    QFile limit("/proc/sys/net/core/somaxconn");
    ASSERT_TRUE(limit.open(QIODevice::ReadOnly));
    const int queue = limit.readAll().trimmed().toInt();
    ASSERT_GT(queue, 0);
    ASSERT_TRUE(QDir().mkpath(TestLock::lockPath(path(), "t")));
    QString unshared;
    const auto running = TestLock::tryAcquire(path(), "t", &unshared);
    ASSERT_TRUE(running);
    ASSERT_NE(unshared, "") << "held by its name alone";
    for (int check = 0; check < queue + 100; ++check) {
        QString why;
        ASSERT_FALSE(TestLock::tryAcquire(path(), "t", nullptr, &why)) << check;
        ASSERT_EQ(why, "") << "check " << check << ": " << why.toStdString();
    }
}

}  // namespace
