#include "server/server_password.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QStringList>
#include <cerrno>
#include <cstring>

#include "archive/lab_settings.h"

namespace server {
namespace {

// One line as libpq's password files have it: host:port:database:user:password, with ':' and
// '\' escaped by '\'.
QString Escaped(QString field) {
    field.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    field.replace(QLatin1Char(':'), QStringLiteral("\\:"));
    return field;
}

QStringList Fields(const QString& line) {
    QStringList fields{QString()};
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == u'\\' && i + 1 < line.size())
            fields.back() += line[++i];
        else if (line[i] == u':')
            fields << QString();
        else
            fields.back() += line[i];
    }
    return fields;
}

// The guard, when there is one, follows the password as a sixth field.
QString Line(const PasswordKey& key, const QString& password) {
    QStringList fields{Escaped(key.host.trimmed()), QString::number(key.port),
                       Escaped(key.database.trimmed()), Escaped(key.user.trimmed()),
                       Escaped(password)};
    if (!key.guard.isEmpty()) fields << Escaped(key.guard);
    return fields.join(u':');
}

}  // namespace

QString PasswordFilePath() {
    return archive::LabSettingsPath() + QStringLiteral(".password.") + QString::number(::geteuid());
}

QString StoredPassword(const PasswordKey& key) {
    const QByteArray path = QFile::encodeName(PasswordFilePath());
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return {};
    QFile file;
    struct stat info {};
    // Only a file of this account that nobody else can read is believed.
    if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0 ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    const QString line = QString::fromUtf8(file.readAll()).section(u'\n', 0, 0);
    const QStringList fields = Fields(line);
    if (fields.size() != 5 && fields.size() != 6) return {};
    const PasswordKey stored{fields[0], fields[1].toInt(), fields[2], fields[3],
                             fields.size() == 6 ? fields[5] : QString()};
    return stored.admits(key) ? fields[4] : QString();
}

bool PasswordKey::admits(const PasswordKey& wanted) const {
    return host.trimmed() == wanted.host.trimmed() && port == wanted.port &&
           database.trimmed() == wanted.database.trimmed() &&
           user.trimmed() == wanted.user.trimmed() && (guard.isEmpty() || guard == wanted.guard);
}

bool StorePassword(const PasswordKey& key, const QString& password, QString* error) {
    const QString target = PasswordFilePath();
    auto failed = [&](const QString& cause) {
        if (error) *error = QStringLiteral("无法保存服务器密码 %1：%2").arg(target, cause);
        return false;
    };
    if (password.isEmpty()) {
        if (::unlink(QFile::encodeName(target).constData()) != 0 && errno != ENOENT)
            return failed(QString::fromLocal8Bit(strerror(errno)));
        return true;
    }
    // Written whole into a new file made for this account alone, then put in place.
    const QString temporary = target + QStringLiteral(".new");
    const QByteArray temporaryName = QFile::encodeName(temporary);
    ::unlink(temporaryName.constData());
    const int fd = ::open(temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd < 0) return failed(QString::fromLocal8Bit(strerror(errno)));
    const QByteArray bytes = (Line(key, password) + u'\n').toUtf8();
    bool written = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    for (qsizetype done = 0; written && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        if (written) done += n;
    }
    written = written && ::fsync(fd) == 0;
    const int cause = errno;
    ::close(fd);
    if (!written ||
        ::rename(temporaryName.constData(), QFile::encodeName(target).constData()) != 0) {
        const QString text = QString::fromLocal8Bit(strerror(written ? errno : cause));
        ::unlink(temporaryName.constData());
        return failed(text);
    }
    return true;
}

}  // namespace server
