#include "server/bench_uid.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QUuid>

namespace server {
namespace {

QString ReadUid(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QString uid = QString::fromLatin1(file.read(64)).trimmed();
    return QUuid::fromString(uid).isNull() ? QString() : uid;
}

}  // namespace

QString BenchUid(const QString& archivePath) {
    const QString path = archivePath + QStringLiteral(".bench");
    if (QString uid = ReadUid(path); !uid.isEmpty()) return uid;
    // Written whole under another name, then linked into place: two copies of the program
    // starting together agree on the first one linked, and no one reads half a file.
    const QString uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QByteArray temp = QFile::encodeName(path + QStringLiteral(".%1").arg(::getpid()));
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0664);
    if (fd < 0) return {};
    const QByteArray text = uid.toLatin1() + '\n';
    const bool written =
        ::write(fd, text.constData(), size_t(text.size())) == text.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (written) (void)::link(temp.constData(), QFile::encodeName(path).constData());
    ::unlink(temp.constData());
    return ReadUid(path);
}

}  // namespace server
