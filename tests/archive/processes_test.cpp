// Two copies of the program on one archive, and the lock that tells whether a test's program
// is alive.

#include "archive/test_lock.h"
#include "archive_fixture.h"

namespace {

using namespace ArchiveTesting;

class ArchiveProcesses : public ArchiveTest {};

TEST_F(ArchiveProcesses, TwoWritersInTwoProcessesBothComplete) {
    ChildProcess a("ArchiveChild.WritesThreeTests", "pair", {{"PATH", path()}, {"PREFIX", "a"}});
    ChildProcess b("ArchiveChild.WritesThreeTests", "pair", {{"PATH", path()}, {"PREFIX", "b"}});
    for (ChildProcess* child : {&a, &b}) {
        EXPECT_TRUE(child->waitForLine("done", 60000));
        EXPECT_EQ(child->wait(), 0);
    }
    auto reader = ArchiveReader::open(path(), nullptr);
    ASSERT_TRUE(reader);
    const auto list = reader->listTests();
    ASSERT_EQ(list.size(), 6u);
    for (const TestSummary& s : list) {
        EXPECT_EQ(s.recordCount, 20) << s.uid.toStdString();
        const auto polls = reader->polls(s.id);
        ASSERT_EQ(polls.size(), 40u) << s.uid.toStdString();
        for (int k = 0; k < 40; ++k) EXPECT_EQ(polls[k], Poll(k + 2));
    }
}

TEST_F(ArchiveProcesses, ATestLockIsHeldUntilItsHolderGoesAway) {
    const QString t1 = UniqueUid(), t2 = UniqueUid();
    auto held = TestLock::tryAcquire(path(), t1);
    ASSERT_TRUE(held);
    EXPECT_FALSE(TestLock::tryAcquire(path(), t1));
    EXPECT_TRUE(TestLock::tryAcquire(path(), t2));
    EXPECT_TRUE(QFile::exists(TestLock::lockPath(path(), t1)));
    held.reset();
    EXPECT_FALSE(QFile::exists(TestLock::lockPath(path(), t1)));
    EXPECT_TRUE(TestLock::tryAcquire(path(), t1));

    ChildProcess child("ArchiveChild.HoldsATestLock", "lock", {{"PATH", path()}, {"UID", t1}});
    ASSERT_TRUE(child.waitForLine("locked"));
    EXPECT_FALSE(TestLock::tryAcquire(path(), t1));
    child.kill();
    child.wait();
    EXPECT_TRUE(TestLock::tryAcquire(path(), t1));
}

}  // namespace
