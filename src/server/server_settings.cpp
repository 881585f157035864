#include "server/server_settings.h"

#include <QSettings>
#include <QUrl>

#include "archive/lab_settings.h"

namespace server {
namespace {

// libpq's key=value quoting: single quotes around, backslash before ' and \.
QString Quoted(QString value) {
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    value.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

TlsMode ModeOf(const QString& sslmode) {
    if (sslmode == QLatin1String("verify-full")) return TlsMode::Verified;
    if (sslmode == QLatin1String("require")) return TlsMode::Encrypted;
    return TlsMode::Off;
}

QString SslMode(TlsMode mode) {
    switch (mode) {
        case TlsMode::Verified:
            return QStringLiteral("verify-full");
        case TlsMode::Encrypted:
            return QStringLiteral("require");
        case TlsMode::Off:
            break;
    }
    return QStringLiteral("prefer");
}

// A password the lab settings still hold (written by an earlier version, where every operator
// of the group could read it) is moved to this account's own file.
void MovePasswordOut(const ServerSettings& s) {
    QSettings lab(archive::LabSettingsPath(), QSettings::IniFormat);
    const QString old = lab.value(QStringLiteral("server/password")).toString();
    if (!lab.contains(QStringLiteral("server/password"))) return;
    if (!old.isEmpty() && StoredPassword(s.passwordKey()).isEmpty() &&
        !StorePassword(s.passwordKey(), old, nullptr))
        return;
    lab.remove(QStringLiteral("server/password"));
    lab.sync();
}

}  // namespace

QString TlsModeName(TlsMode mode) {
    switch (mode) {
        case TlsMode::Verified:
            return QStringLiteral("加密并验证服务器证书");
        case TlsMode::Encrypted:
            return QStringLiteral("加密");
        case TlsMode::Off:
            break;
    }
    return QStringLiteral("不加密");
}

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
                           .arg(Quoted(database), Quoted(user), SslMode(tls));
    if (tls == TlsMode::Verified)
        options.conninfo +=
            QStringLiteral(" sslrootcert=%1 channel_binding=require").arg(Quoted(caFile));
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
    s.tls = ModeOf(ReadLabSetting(QStringLiteral("server/sslmode")).toString());
    s.caFile = ReadLabSetting(QStringLiteral("server/sslrootcert")).toString();
    if (!s.host.isEmpty()) {
        MovePasswordOut(s);
        s.password = StoredPassword(s.passwordKey());
    }
    return s;
}

bool WriteServerSettings(const ServerSettings& s, QString* error) {
    using archive::WriteLabSetting;
    QSettings(archive::LabSettingsPath(), QSettings::IniFormat)
        .remove(QStringLiteral("server/password"));
    return WriteLabSetting(QStringLiteral("server/host"), s.host.trimmed(), error) &&
           WriteLabSetting(QStringLiteral("server/port"), s.port, error) &&
           WriteLabSetting(QStringLiteral("server/database"), s.database.trimmed(), error) &&
           WriteLabSetting(QStringLiteral("server/user"), s.user.trimmed(), error) &&
           WriteLabSetting(QStringLiteral("server/sslmode"), SslMode(s.tls), error) &&
           WriteLabSetting(QStringLiteral("server/sslrootcert"), s.caFile.trimmed(), error) &&
           StorePassword(s.passwordKey(), s.host.trimmed().isEmpty() ? QString() : s.password,
                         error);
}

QString ReadVerifyBase() {
    return archive::ReadLabSetting(QStringLiteral("server/verify_base")).toString().trimmed();
}

bool WriteVerifyBase(const QString& base, QString* error) {
    return archive::WriteLabSetting(QStringLiteral("server/verify_base"), base.trimmed(), error);
}

QString VerifyBaseProblem(const QString& base) {
    const QString trimmed = base.trimmed();
    if (trimmed.isEmpty()) return {};
    // The address goes into every report's QR code: long enough for any lab, short enough to
    // keep the code readable from paper.
    constexpr int kLongest = 200;
    const QUrl url(trimmed, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (trimmed.size() > kLongest || !url.isValid() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment() ||
        trimmed.contains(QLatin1Char(' ')) ||
        // The service's pages link from the site's root: under a path the QR code would open a
        // page whose links lead nowhere.
        (!url.path().isEmpty() && url.path() != QLatin1String("/")))
        return QStringLiteral(
                   "报告核验地址“%1”不是有效的网址：应以 http:// 或 https:// "
                   "开头，后接实验室网页服务的主机名，不带路径（网页服务须位于网站根目录，"
                   "不超过 %2 个字符），例如 https://lab.example.cn。")
            .arg(trimmed)
            .arg(kLongest);
    return {};
}

}  // namespace server
