// The parts child processes play in the tests of this folder. Each test here skips unless the
// parent started this program for it (KIVO_ARCHIVE_CHILD names the role).

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "archive/archive_open.h"
#include "archive/process_mark.h"
#include "archive/test_lock.h"
#include "archive/test_lock_name.h"
#include "archive_fixture.h"

namespace {

using namespace ArchiveTesting;

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Reports every committed record, and any failure, on standard output.
ArchiveWriter::Options ReportingOptions() {
    ArchiveWriter::Options options;
    options.onRecordCommitted = [](const QString& uid, int number) {
        Report(uid.toUtf8() + ' ' + QByteArray::number(number));
    };
    return options;
}
void ReportFailure(const QString& message) { Report("F " + message.toUtf8()); }

// Waits for "go" on standard input (so the parent can start it early), then writes one test's
// polls and records until it is killed.
TEST(ArchiveChild, WritesUntilKilled) {
    if (ChildRole() != "crash") GTEST_SKIP() << "run by ArchiveCrash";
    Report("ready");
    char go[3] = {};
    if (::read(0, go, sizeof go) <= 0) return;
    const QString uid = ChildParam("UID");
    ArchiveWriter writer(ChildParam("PATH"), ReportFailure, ReportingOptions());
    writer.beginTest(Header(uid));
    for (int n = 1; n <= 5000; ++n) {
        for (int p = 0; p < 4; ++p) writer.addPoll(uid, Poll(n * 4 + p));
        writer.addRecord(uid, Record(n));
        if (n % 4 == 0) writer.flush(10000);  // a few records in the queue at any time
    }
}

// Writes three tests side by side, as a copy of the program on another port would.
TEST(ArchiveChild, WritesThreeTests) {
    if (ChildRole() != "pair") GTEST_SKIP() << "run by ArchiveProcesses";
    const QString prefix = ChildParam("PREFIX");
    ArchiveWriter writer(ChildParam("PATH"), ReportFailure);
    for (int t = 1; t <= 3; ++t) writer.beginTest(Header(prefix + QString::number(t)));
    for (int n = 1; n <= 20; ++n) {
        for (int t = 1; t <= 3; ++t) {
            const QString uid = prefix + QString::number(t);
            writer.addPoll(uid, Poll(2 * n));
            writer.addPoll(uid, Poll(2 * n + 1));
            writer.addRecord(uid, Record(n));
        }
    }
    Report(writer.flush(60000) ? "done" : "not done");
}

// Keeps the archive busy: an exclusive transaction held for KIVO_ARCHIVE_MS.
TEST(ArchiveChild, HoldsTheArchive) {
    if (ChildRole() != "hold") GTEST_SKIP() << "run by ArchiveBadConditions";
    Connection db(ChildParam("PATH"), SQLITE_OPEN_READWRITE);
    ConfigureConnection(db, kBusyTimeoutMs);
    db.exec("BEGIN EXCLUSIVE");
    Report("held");
    SleepMs(ChildParam("MS").toInt());
    db.exec("COMMIT");
}

// Holds a test's lock until it is killed.
TEST(ArchiveChild, HoldsATestLock) {
    if (ChildRole() != "lock") GTEST_SKIP() << "run by ArchiveProcesses";
    const auto lock = TestLock::tryAcquire(ChildParam("PATH"), ChildParam("UID"));
    Report(lock ? "locked" : "not locked");
    SleepMs(60000);
}

// Runs test UID of PATH under its lock; on "go" closes it, as its window going does, on an
// archive that keeps it waiting long (reports "closing"); then waits to be killed.
TEST(ArchiveChild, ClosesOnABusyArchive) {
    if (ChildRole() != "close") GTEST_SKIP() << "run by ArchiveHealing";
    const QString path = ChildParam("PATH");
    const QString uid = ChildParam("UID");
    ArchiveWriter::Options options;
    options.busyTimeoutMs = 120000;
    ArchiveWriter writer(path, ReportFailure, options);
    writer.beginTest(Header(uid));
    writer.addRecord(uid, Record(1));
    auto lock = TestLock::tryAcquire(path, uid);
    Report(writer.flush(30000) && lock ? "begun" : "not begun");
    char go[3] = {};
    if (::read(0, go, sizeof go) <= 0) return;
    writer.changeState(uid, TestState::Closed, 9);
    writer.release(std::move(lock));
    Report("closing");
    SleepMs(60000);
}

// Runs test UID of PATH as a program does: its lock name made from the archive's key as the
// path resolves now, and that key kept with the test. Reports what the lock said, and "written"
// once the test is in the archive; then waits to be killed.
TEST(ArchiveChild, RunsATestUnderTheKeyOfItsStart) {
    if (ChildRole() != "run") GTEST_SKIP() << "run by ArchiveTestLock";
    const QString path = ChildParam("PATH");
    const QString uid = ChildParam("UID");
    TestHeader header = Header(uid);
    header.lockKey = ArchiveLockKey(path);
    QString unshared;
    const auto lock = TestLock::tryAcquire(path, uid, &unshared, nullptr, header.lockKey);
    Report(lock ? "running" : "not running");
    ArchiveWriter::Options options;
    options.retryMs = 100;
    ArchiveWriter writer(
        path, [](const QString&) {}, options);
    writer.beginTest(header);
    while (!writer.flush(1000)) SleepMs(100);
    Report("written");
    SleepMs(60000);
}

}  // namespace

namespace {

// Binds the name of a test of PATH (UID) as the account nobody, until it is killed.
TEST(ArchiveChild, SquatsATestName) {
    if (ChildRole() != "squat") GTEST_SKIP() << "run by ArchiveTestLock";
    const QByteArray name = TestLockName(ChildParam("PATH"), ChildParam("UID"));
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
        Report("no account");
        return;
    }
    const NameHold hold = BindLockName(name);
    Report(hold.result == NameHold::Result::Bound ? "bound" : "not bound");
    SleepMs(60000);
}

// In a sandbox that refuses sockets: runs test "t" of PATH, checks test "u" of PATH, runs test
// "b" of BARE (whose lock folder cannot be made), and reports each; then waits to be killed.
TEST(ArchiveChild, LocksWithoutSockets) {
    if (ChildRole() != "sandbox") GTEST_SKIP() << "run by ArchiveTestLock";
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EACCES & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{sizeof filter / sizeof filter[0], filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        Report("no sandbox");
        Report("done");
        return;
    }
    QString unshared;
    const auto running = TestLock::tryAcquire(ChildParam("PATH"), "t", &unshared);
    Report(running && unshared.isEmpty() ? "locked" : "not locked: " + unshared.toUtf8());
    QString why;
    const auto checked = TestLock::tryAcquire(ChildParam("PATH"), "u", nullptr, &why);
    Report(checked ? "checked and taken" : "checked: " + why.toUtf8());
    const auto bare = TestLock::tryAcquire(ChildParam("BARE"), "b", &unshared);
    Report(bare ? "bare locked" : "unlocked: " + unshared.toUtf8());
    Report("done");
    SleepMs(60000);
}

// Runs test UID of PATH as a program does once it is out of file descriptors: its archive is
// open, but neither the test's lock file nor its name can be made; its mark was read as it
// started. Reports what the lock said and the mark kept with the test, then "written"; then waits
// to be killed.
TEST(ArchiveChild, RunsATestOutOfFileDescriptors) {
    if (ChildRole() != "nofile") GTEST_SKIP() << "run by ArchiveTestLock";
    const QString path = ChildParam("PATH");
    const QString uid = ChildParam("UID");
    const QString mark = ReadOwnProcessMark().text();
    ArchiveWriter writer(path, ReportFailure);
    writer.beginTest(Header(uid + "-before"));  // the archive is open from here on
    if (!writer.flush(30000)) return Report("not open");
    const int lowestFree = ::dup(0);
    ::close(lowestFree);
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = rlim_t(lowestFree);
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return Report("no limit");

    TestHeader header = Header(uid);
    header.lockKey = ArchiveLockKey(path);
    QString unshared;
    const auto lock = TestLock::tryAcquire(path, uid, &unshared, nullptr, header.lockKey);
    Report(lock ? "locked" : "unlocked: " + unshared.toUtf8());
    if (!unshared.isEmpty()) header.lockHolder = mark;
    Report("mark: " + header.lockHolder.toUtf8());
    writer.beginTest(header);
    Report(writer.flush(30000) ? "written" : "not written");
    SleepMs(60000);
}

}  // namespace
