// The lock of a running test: its machine-wide name belongs to the archive, a name another
// account holds is told from one of ours, and a program that cannot make sockets still holds
// its test by the lock file and says what it cannot check.

#include "archive/test_lock.h"

#include <unistd.h>

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
    EXPECT_TRUE(QString::fromUtf8(lines[2]).contains("请不要在其他程序中恢复或删除它"))
        << lines[2].toStdString();

    // Its test is never offered here while the sandboxed program runs it.
    QString why;
    EXPECT_FALSE(TestLock::tryAcquire(path(), "t", nullptr, &why));
    EXPECT_EQ(why, "");
    sandboxed.kill();
    sandboxed.wait();
    EXPECT_TRUE(TestLock::tryAcquire(path(), "t"));
}

}  // namespace
