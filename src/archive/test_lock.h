#pragma once

#include <QString>
#include <memory>

// Whether a test's program is alive. The program running a test holds two things the kernel
// lets go of when the process dies, however it dies: an flock on a small file named after the
// test's uid, in a folder beside the archive ("kivo.sqlite.locks/<uid>.lock"), which every
// computer sharing the archive sees, and a name in the machine's abstract socket space, which
// needs no folder at all. Whoever recovers or deletes a test takes its lock first, then reads
// its state again. A test with an ending still waiting beside the archive (see test_endings.h)
// ended: its lock is not given out.
namespace archive {

class TestLock {
  public:
    // Null when another process (or another TestLock of this one) holds the test's lock, when
    // the test's ending is waiting, or when the lock file cannot be made. With `unshared`, a
    // lock whose file cannot be made is still given (it holds the machine-wide name only) and
    // `unshared` says why the file could not be made; it is left empty otherwise.
    static std::unique_ptr<TestLock> tryAcquire(const QString& archivePath, const QString& uid,
                                                QString* unshared = nullptr);
    // The lock of a test whose ending is waiting, for writing that ending into the archive.
    static std::unique_ptr<TestLock> tryAcquireEnded(const QString& archivePath,
                                                     const QString& uid);
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
                                             bool ended, QString* unshared);
    QString m_uid;
    QString m_path;
    int m_fd;    // the locked file, -1 when it could not be made
    int m_name;  // the socket bound to the test's name
};

}  // namespace archive
