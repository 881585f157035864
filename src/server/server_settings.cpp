#include "server/server_settings.h"

#include <QFile>

#include "archive/lab_settings.h"

namespace server {
namespace {

// libpq's key=value quoting: single quotes around, backslash before ' and \.
QString Quoted(QString value) {
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    value.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

}  // namespace

PgConnection::Options ServerSettings::connectOptions(int timeoutSeconds) const {
    PgConnection::Options options;
    options.connectTimeoutSeconds = timeoutSeconds;
    if (fromEnvironment()) {
        options.conninfo = uri;
        return options;
    }
    options.conninfo = QStringLiteral("host=%1 port=%2 dbname=%3 user=%4 sslmode=%5")
                           .arg(Quoted(host))
                           .arg(port)
                           .arg(Quoted(database), Quoted(user),
                                requireTls ? QStringLiteral("require") : QStringLiteral("prefer"));
    options.password = password;
    return options;
}

ServerSettings ReadServerSettings() {
    ServerSettings s;
    s.uri = qEnvironmentVariable("KIVO_SERVER").trimmed();
    using archive::ReadLabSetting;
    s.host = ReadLabSetting(QStringLiteral("server/host")).toString().trimmed();
    s.port = ReadLabSetting(QStringLiteral("server/port"), 5432).toInt();
    s.database = ReadLabSetting(QStringLiteral("server/database"), s.database).toString();
    s.user = ReadLabSetting(QStringLiteral("server/user"), s.user).toString();
    s.password = ReadLabSetting(QStringLiteral("server/password")).toString();
    s.requireTls =
        ReadLabSetting(QStringLiteral("server/sslmode")).toString() == QLatin1String("require");
    return s;
}

bool WriteServerSettings(const ServerSettings& s, QString* error) {
    using archive::WriteLabSetting;
    // Narrow the file first, so that the password is never in a file others may read.
    const QString path = archive::LabSettingsPath();
    if (!QFile::exists(path)) {
        QFile create(path);
        if (!create.open(QIODevice::WriteOnly)) {
            if (error)
                *error = QStringLiteral("设置文件 %1 无法写入，请检查该文件夹是否可写。").arg(path);
            return false;
        }
    }
    QFile::setPermissions(
        path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup);
    return WriteLabSetting(QStringLiteral("server/host"), s.host.trimmed(), error) &&
           WriteLabSetting(QStringLiteral("server/port"), s.port, error) &&
           WriteLabSetting(QStringLiteral("server/database"), s.database.trimmed(), error) &&
           WriteLabSetting(QStringLiteral("server/user"), s.user.trimmed(), error) &&
           WriteLabSetting(QStringLiteral("server/password"), s.password, error) &&
           WriteLabSetting(QStringLiteral("server/sslmode"),
                           s.requireTls ? QStringLiteral("require") : QStringLiteral("prefer"),
                           error);
}

}  // namespace server
