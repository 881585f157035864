#pragma once

#include <QString>
#include <memory>

// Whether a test's program is alive: an flock on a small file named after the test's uid, in
// a folder beside the archive ("kivo.sqlite.locks/<uid>.lock"). The program running a test
// holds its lock; the kernel lets go of it when the process dies, however it dies. Whoever
// recovers a test takes its lock first, then reads its state again.
namespace archive {

class TestLock {
  public:
    // Null when another process (or another TestLock of this one) holds the test's lock, or
    // when the lock file cannot be made.
    static std::unique_ptr<TestLock> tryAcquire(const QString& archivePath, const QString& uid);
    // Unlocks, and removes the file while still holding it so no one else can be locking it.
    ~TestLock();
    TestLock(const TestLock&) = delete;
    TestLock& operator=(const TestLock&) = delete;

    static QString lockPath(const QString& archivePath, const QString& uid);

  private:
    TestLock(QString path, int fd) : m_path(std::move(path)), m_fd(fd) {}
    QString m_path;
    int m_fd;
};

}  // namespace archive
