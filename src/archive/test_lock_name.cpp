#include "archive/test_lock_name.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace archive {
namespace {

// The archive's file with every link and ".." resolved, so that every path leading to one
// archive gives one name; the folder's when the file is not there yet.
QString RealPath(const QString& archivePath) {
    const QFileInfo info(archivePath);
    const QString file = info.canonicalFilePath();
    if (!file.isEmpty()) return file;
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + QLatin1Char('/') + info.fileName();
}

// The socket address of `name` in the abstract space, and its length.
socklen_t AddressOf(const QByteArray& name, sockaddr_un* address) {
    *address = sockaddr_un{};
    address->sun_family = AF_UNIX;
    const size_t length = std::min(size_t(name.size()), sizeof address->sun_path - 1);
    std::memcpy(address->sun_path + 1, name.constData(), length);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
}

// Who holds the bound name: a connection to it tells the account of the process that listens.
NameHold AskHolder(const sockaddr_un& address, socklen_t length) {
    NameHold hold;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        hold.error = errno;
        return hold;
    }
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
        // A holder that does not listen (or has a full queue) cannot be asked.
        hold.error = errno;
        ::close(fd);
        return hold;
    }
    ::close(fd);
    hold.holder = credentials.uid;
    hold.result = credentials.uid == ::geteuid() ? NameHold::Result::HeldHere
                                                 : NameHold::Result::HeldByOtherAccount;
    return hold;
}

}  // namespace

QString ArchiveLockKey(const QString& archivePath) {
    return QString::fromLatin1(
        QCryptographicHash::hash(RealPath(archivePath).toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(32));
}

QByteArray TestLockName(const QString& archivePath, const QString& uid, const QString& key) {
    const QString archive = key.isEmpty() ? ArchiveLockKey(archivePath) : key;
    return "kivo-test/" + archive.toUtf8() + '/' + uid.toUtf8();
}

NameHold BindLockName(const QByteArray& name) {
    NameHold hold;
    sockaddr_un address{};
    const socklen_t length = AddressOf(name, &address);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        hold.error = errno;
        return hold;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
        ::listen(fd, SOMAXCONN) == 0) {
        hold.result = NameHold::Result::Bound;
        hold.fd = fd;
        return hold;
    }
    const int error = errno;
    ::close(fd);
    if (error != EADDRINUSE) {
        hold.error = error;
        return hold;
    }
    return AskHolder(address, length);
}

QString NameErrorText(int error) {
    if (error == EMFILE || error == ENFILE) return QStringLiteral("打开的文件过多");
    if (error == EACCES || error == EPERM || error == EAFNOSUPPORT)
        return QStringLiteral("系统不允许建立本机套接字");
    if (error == ECONNREFUSED || error == EAGAIN)
        return QStringLiteral("它被一个无法询问的进程占用");
    return QStringLiteral("系统错误 %1").arg(error);
}

}  // namespace archive
