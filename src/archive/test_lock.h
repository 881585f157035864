#pragma once

#include <QString>
#include <memory>

#include "archive/lock_name_holder.h"

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
// its lock is not given out. A program that could not make a test's lock file keeps its
// process mark with the test in the archive (see process_mark.h): while that process lives,
// the test is held too, and a mark of another computer cannot be checked here. The bound name
// answers every check at once (see lock_name_holder.h), however many come.
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
    // the test runs (the file could not be made), or, with null returned, that no lock holds
    // it. Empty when the file holds it: whenever it is not, the test's program must keep its
    // process mark with the test (TestHeader::lockHolder).
    //
    // `key` is the test's lock key (TestHeader::lockKey); empty: the archive's as its path
    // resolves now. `holder` is the process mark kept with a test that is still unfinished
    // (TestSummary::lockHolder), for checking it.
    static std::unique_ptr<TestLock> tryAcquire(const QString& archivePath, const QString& uid,
                                                QString* unshared = nullptr, QString* why = nullptr,
                                                const QString& key = {},
                                                const QString& holder = {});
    // The lock of a test whose ending is waiting, for writing that ending into the archive.
    static std::unique_ptr<TestLock> tryAcquireEnded(const QString& archivePath, const QString& uid,
                                                     const QString& key = {});
    // Unlocks, and removes the file while still holding it so no one else can be locking it.
    ~TestLock();
    TestLock(const TestLock&) = delete;
    TestLock& operator=(const TestLock&) = delete;

    static QString lockPath(const QString& archivePath, const QString& uid);
    QString uid() const { return m_uid; }

    // Binds, beside the test's name, the one made from `key`, while this lock lives; nothing
    // when it cannot be bound. A test whose lock_key column holds a process mark (see
    // lock_key_column.h) is checked by an older program under the name made from the whole
    // column: this keeps that program, on this computer, off the test as the name did before.
    void holdNameAlso(const QString& archivePath, const QString& key);

  private:
    TestLock(QString uid, QString path, int fd, int name);
    static std::unique_ptr<TestLock> acquire(const QString& archivePath, const QString& uid,
                                             const QString& key, const QString& holder, bool ended,
                                             QString* unshared, QString* why);
    QString m_uid;
    QString m_path;
    int m_fd;                                    // the locked file, -1 when it could not be made
    std::unique_ptr<LockNameHolder> m_name;      // the test's bound name; null when not bound
    std::unique_ptr<LockNameHolder> m_alsoName;  // see holdNameAlso; null when not bound
};

}  // namespace archive
