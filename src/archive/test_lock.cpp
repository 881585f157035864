#include "archive/test_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

namespace archive {

QString TestLock::lockPath(const QString& archivePath, const QString& uid) {
    QString name = uid;
    // A uid is the program's own (a QUuid), but a name must never leave the folder.
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return archivePath + QStringLiteral(".locks/") + name + QStringLiteral(".lock");
}

std::unique_ptr<TestLock> TestLock::tryAcquire(const QString& archivePath, const QString& uid) {
    const QByteArray folder = QFile::encodeName(archivePath + QStringLiteral(".locks"));
    // Every operator of the lab (the group of the program's folder) takes and removes locks.
    if (::mkdir(folder.constData(), 02775) == 0) ::chmod(folder.constData(), 02775);
    const QString path = lockPath(archivePath, uid);
    const QByteArray name = QFile::encodeName(path);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(name.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0664);
        if (fd < 0) return nullptr;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return nullptr;
        }
        // The holder before us may have removed the file between our open and our lock: the
        // lock counts only if the name still leads to the file we locked.
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) == 0 && ::stat(name.constData(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            return std::unique_ptr<TestLock>(new TestLock(path, fd));
        ::close(fd);
    }
    return nullptr;
}

TestLock::~TestLock() {
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
}

}  // namespace archive
