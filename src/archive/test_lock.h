#pragma once

#include <QString>
#include <memory>

// Whether a test's program is alive. The program running a test holds two things the kernel
// lets go of when the process dies, however it dies: an flock on a small file named after the
// test's uid, in a folder beside the archive ("kivo.sqlite.locks/<uid>.lock"), which every
// computer sharing the archive sees, and a name in the machine's abstract socket space, tied
// to the archive (see test_lock_name.h), which needs no folder at all. Either one alone keeps
// the test: the file on every computer, the name on this one. Whoever recovers or deletes a
// test takes both first, then reads its state again; when either cannot be checked the test is
// left alone and the reason given. A name held by a process of another account is not this
// program's: it keeps no test of ours from running, and it keeps everyone off the test it
// names. A test with an ending still waiting beside the archive (see test_endings.h) ended:
// its lock is not given out.
namespace archive {

class TestLock {
  public:
    // For recovering or deleting a test: null when another process (or another TestLock of
    // this one) holds the test's lock, when the test's ending is waiting, or when the lock
    // cannot be checked; `why` then says what kept it from being checked (empty when the test
    // is held or ended).
    //
    // For running a test (`unshared` given): the lock is given whenever the file or the name
    // holds it, and `unshared` says what the operator must know: that only this computer knows
    // the test runs (the file could not be made), or, with null returned, that nothing holds
    // it. Empty when the file holds it.
    //
    // `key` is the test's lock key (TestHeader::lockKey); empty: the archive's as its path
    // resolves now.
    static std::unique_ptr<TestLock> tryAcquire(const QString& archivePath, const QString& uid,
                                                QString* unshared = nullptr, QString* why = nullptr,
                                                const QString& key = {});
    // The lock of a test whose ending is waiting, for writing that ending into the archive.
    static std::unique_ptr<TestLock> tryAcquireEnded(const QString& archivePath, const QString& uid,
                                                     const QString& key = {});
    // Unlocks, and removes the file while still holding it so no one else can be locking it.
    ~TestLock();
    TestLock(const TestLock&) = delete;
    TestLock& operator=(const TestLock&) = delete;

    static QString lockPath(const QString& archivePath, const QString& uid);
    QString uid() const { return m_uid; }

  private:
    TestLock(QString uid, QString path, int fd, int name)
        : m_uid(std::move(uid)), m_path(std::move(path)), m_fd(fd), m_name(name) {}
    static std::unique_ptr<TestLock> acquire(const QString& archivePath, const QString& uid,
                                             const QString& key, bool ended, QString* unshared,
                                             QString* why);
    QString m_uid;
    QString m_path;
    int m_fd;    // the locked file, -1 when it could not be made
    int m_name;  // the socket bound to the test's name, -1 when it could not be bound
};

}  // namespace archive
