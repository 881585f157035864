#include "archive/test_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "archive/lock_folder.h"
#include "archive/test_endings.h"

namespace archive {
namespace {

// Binds a socket to the test's name in the abstract namespace (no file, gone with the
// process); -1 when another process holds the name.
int BindName(const QString& uid) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = "kivo-test/" + uid.toUtf8().left(sizeof address.sun_path - 12);
    std::memcpy(address.sun_path + 1, name.constData(), size_t(name.size()));
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()));
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QString ErrnoText(int error) {
    if (error == ENOSPC || error == EDQUOT) return QStringLiteral("磁盘已满");
    if (error == EACCES || error == EPERM || error == EROFS) return QStringLiteral("没有写入权限");
    return QStringLiteral("系统错误 %1").arg(error);
}

}  // namespace

QString TestLock::lockPath(const QString& archivePath, const QString& uid) {
    QString name = uid;
    // A uid is the program's own (a QUuid), but a name must never leave the folder.
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return LockFolder(archivePath) + QLatin1Char('/') + name + QStringLiteral(".lock");
}

std::unique_ptr<TestLock> TestLock::tryAcquire(const QString& archivePath, const QString& uid,
                                               QString* unshared) {
    return acquire(archivePath, uid, false, unshared);
}

std::unique_ptr<TestLock> TestLock::tryAcquireEnded(const QString& archivePath,
                                                    const QString& uid) {
    return acquire(archivePath, uid, true, nullptr);
}

std::unique_ptr<TestLock> TestLock::acquire(const QString& archivePath, const QString& uid,
                                            bool ended, QString* unshared) {
    if (unshared) unshared->clear();
    const int nameFd = BindName(uid);
    if (nameFd < 0) return nullptr;
    // The ending is looked for under the name: the program that left it let go of the name
    // only after it was written.
    if (!ended && TestEndings::pending(archivePath, uid)) {
        ::close(nameFd);
        return nullptr;
    }
    const QString path = lockPath(archivePath, uid);
    const QByteArray name = QFile::encodeName(path);
    int error = 0;
    if (MakeLockFolder(archivePath)) {
        for (int attempt = 0; attempt < 8; ++attempt) {
            const int fd = OpenSharedFile(path);
            if (fd < 0) {
                error = errno;
                break;
            }
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                ::close(fd);
                ::close(nameFd);
                return nullptr;
            }
            // The holder before us may have removed the file between our open and our lock:
            // the lock counts only if the name still leads to the file we locked.
            struct stat held {
            }, named{};
            if (::fstat(fd, &held) == 0 && ::stat(name.constData(), &named) == 0 &&
                held.st_dev == named.st_dev && held.st_ino == named.st_ino)
                return std::unique_ptr<TestLock>(new TestLock(uid, path, fd, nameFd));
            ::close(fd);
        }
    } else {
        error = errno;
    }
    if (unshared == nullptr) {
        ::close(nameFd);
        return nullptr;
    }
    *unshared =
        QStringLiteral("实验锁 %1 无法建立：%2。本实验照常进行，本机的其他程序仍知道它在运行。")
            .arg(path, ErrnoText(error));
    return std::unique_ptr<TestLock>(new TestLock(uid, path, -1, nameFd));
}

TestLock::~TestLock() {
    if (m_fd >= 0) {
        ::unlink(QFile::encodeName(m_path).constData());
        ::close(m_fd);
    }
    ::close(m_name);
}

}  // namespace archive
