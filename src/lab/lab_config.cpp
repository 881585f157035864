#include "lab/lab_config.h"

#include <QFile>

#include "lab/client_address.h"
#include "server/server_settings.h"

namespace lab {
namespace {

bool ReadPort(const std::map<QString, QString>& ini, const QString& key, int least, int* port,
              QString* error) {
    const auto found = ini.find(key);
    if (found == ini.end()) return true;
    bool ok = false;
    const int value = found->second.toInt(&ok);
    if (!ok || value < least || value > 65535) {
        *error = QStringLiteral("配置项 %1 的值“%2”不是有效的端口号").arg(key, found->second);
        return false;
    }
    *port = value;
    return true;
}

bool ReadCount(const std::map<QString, QString>& ini, const QString& key, int* count,
               QString* error) {
    const auto found = ini.find(key);
    if (found == ini.end()) return true;
    bool ok = false;
    const int value = found->second.toInt(&ok);
    if (!ok || value < 1 || value > 100000) {
        *error = QStringLiteral("配置项 %1 的值“%2”不是有效的数目").arg(key, found->second);
        return false;
    }
    *count = value;
    return true;
}

void ReadText(const std::map<QString, QString>& ini, const QString& key, QString* text) {
    const auto found = ini.find(key);
    if (found != ini.end()) *text = found->second;
}

// A value as libpq's key=value syntax reads it: quoted, its ' and \ escaped.
QString Quoted(const QString& value) {
    QString out = QStringLiteral("'");
    for (const QChar c : value) {
        if (c == u'\'' || c == u'\\') out += u'\\';
        out += c;
    }
    return out + u'\'';
}

}  // namespace

std::map<QString, QString> ParseIni(const QString& text, QString* error) {
    std::map<QString, QString> values;
    QString section;
    int number = 0;
    for (const QString& raw : text.split(u'\n')) {
        ++number;
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';')) continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0) {
            if (error->isEmpty())
                *error = QStringLiteral("配置文件第 %1 行无法识别：%2").arg(number).arg(line);
            continue;
        }
        values[section + u'/' + line.left(equals).trimmed()] = line.mid(equals + 1).trimmed();
    }
    return values;
}

std::optional<LabConfig> ConfigFromIni(const QString& text, QString* error) {
    error->clear();
    const std::map<QString, QString> ini = ParseIni(text, error);
    if (!error->isEmpty()) return std::nullopt;
    LabConfig c;
    ReadText(ini, QStringLiteral("database/host"), &c.host);
    ReadText(ini, QStringLiteral("database/dbname"), &c.dbname);
    ReadText(ini, QStringLiteral("database/user"), &c.user);
    ReadText(ini, QStringLiteral("database/password_file"), &c.passwordFile);
    ReadText(ini, QStringLiteral("database/sslmode"), &c.sslmode);
    ReadText(ini, QStringLiteral("database/sslrootcert"), &c.sslrootcert);
    ReadText(ini, QStringLiteral("http/listen"), &c.listen);
    ReadText(ini, QStringLiteral("http/tls_cert"), &c.tlsCert);
    ReadText(ini, QStringLiteral("http/tls_key"), &c.tlsKey);
    ReadText(ini, QStringLiteral("http/verify_base"), &c.verifyBase);
    // Listening on this machine only means the lab's reverse proxy is in front (the packaged
    // set-up); the proxy's header is believed only from a loopback peer in any case.
    QString proxy = IsLoopback(c.listen.toStdString()) ? QStringLiteral("true") : QString();
    ReadText(ini, QStringLiteral("http/behind_proxy"), &proxy);
    c.behindProxy = proxy == QStringLiteral("true") || proxy == QStringLiteral("1");
    if (!ReadPort(ini, QStringLiteral("database/port"), 1, &c.port, error) ||
        !ReadPort(ini, QStringLiteral("http/port"), 0, &c.listenPort, error) ||
        !ReadCount(ini, QStringLiteral("limits/verify_per_minute"), &c.verifyPerMinute, error) ||
        !ReadCount(ini, QStringLiteral("limits/failed_logins_per_hour"), &c.failedLoginsPerHour,
                   error) ||
        !ReadCount(ini, QStringLiteral("limits/session_hours"), &c.sessionHours, error))
        return std::nullopt;
    if (c.tlsCert.isEmpty() != c.tlsKey.isEmpty()) {
        *error = QStringLiteral("配置项 http/tls_cert 与 http/tls_key 须同时设置");
        return std::nullopt;
    }
    // Plain HTTP on the network would carry the passwords and cookies in the clear, and slow
    // clients would reach the service's threads directly: only behind the proxy, on this host.
    if (!c.https() && !IsLoopback(c.listen.toStdString()) &&
        c.listen != QStringLiteral("localhost")) {
        *error = QStringLiteral(
                     "配置项 http/listen 为 %1：不在本机监听时须设置 http/tls_cert 与 "
                     "http/tls_key（HTTPS），或改为 127.0.0.1 并置于反向代理之后")
                     .arg(c.listen);
        return std::nullopt;
    }
    if (const QString problem = server::VerifyBaseProblem(c.verifyBase); !problem.isEmpty()) {
        *error = QStringLiteral("配置项 http/verify_base：") + problem;
        return std::nullopt;
    }
    QString grading = QStringLiteral("penetrability");
    ReadText(ini, QStringLiteral("report/grading"), &grading);
    if (grading == QStringLiteral("durability")) {
        c.grading = GradingScheme::DurabilityGrades;
    } else if (grading != QStringLiteral("penetrability")) {
        *error = QStringLiteral("配置项 report/grading 只能是 penetrability 或 durability");
        return std::nullopt;
    }
    return c;
}

std::optional<LabConfig> ReadLabConfig(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("无法读取配置文件 %1（%2）").arg(path, file.errorString());
        return std::nullopt;
    }
    return ConfigFromIni(QString::fromUtf8(file.readAll()), error);
}

QString ConnInfo(const LabConfig& c) {
    QStringList parts{
        QStringLiteral("host=") + Quoted(c.host), QStringLiteral("port=") + QString::number(c.port),
        QStringLiteral("dbname=") + Quoted(c.dbname), QStringLiteral("user=") + Quoted(c.user)};
    if (!c.sslmode.isEmpty()) parts << QStringLiteral("sslmode=") + Quoted(c.sslmode);
    if (!c.sslrootcert.isEmpty()) parts << QStringLiteral("sslrootcert=") + Quoted(c.sslrootcert);
    return parts.join(u' ');
}

QString ReadPassword(const LabConfig& config, QString* error) {
    if (config.passwordFile.isEmpty()) return {};
    QFile file(config.passwordFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("无法读取数据库密码文件 %1（%2）")
                     .arg(config.passwordFile, file.errorString());
        return {};
    }
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
    return QString::fromUtf8(line);
}

}  // namespace lab
