#pragma once

#include <QString>
#include <map>
#include <optional>

#include "export/grading_scheme.h"

// The web service's settings, read from an ini file (/etc/kivo-lab/kivo-lab.ini unless
// --config names another): how to reach the lab database, where to listen, the certificate
// for HTTPS, the public address of the verify page.
namespace lab {

inline constexpr const char* kDefaultConfigPath = "/etc/kivo-lab/kivo-lab.ini";

struct LabConfig {
    // [database]
    QString host = QStringLiteral("127.0.0.1");
    int port = 5432;
    QString dbname = QStringLiteral("kivo");
    QString user = QStringLiteral("kivo_web");
    QString passwordFile;  // the first line is the password; none: libpq's own (~/.pgpass)
    QString sslmode;       // libpq's sslmode; empty: libpq's default
    QString sslrootcert;   // the CA that signed the server's certificate
    // [http]
    QString listen = QStringLiteral("127.0.0.1");
    int listenPort = 8080;    // 0: any free port (the one taken is printed)
    QString tlsCert, tlsKey;  // both set: HTTPS
    QString verifyBase;       // "https://lab.example.cn": the address the QR code opens
    // The client's address is the last one of X-Forwarded-For when the connection comes from
    // this machine (the lab's proxy); on by default when listening on loopback.
    bool behindProxy = false;
    // [limits]
    int verifyPerMinute = 30;      // verify requests per client address and minute
    int failedLoginsPerHour = 10;  // failed logins per client address and hour
    int sessionHours = 8;
    // [report]
    GradingScheme grading = GradingScheme::PenetrabilityClasses;

    bool https() const { return !tlsCert.isEmpty() && !tlsKey.isEmpty(); }
    // Whether browsers reach the service over HTTPS: its own, the proxy's, or the public
    // address's; the session cookie is then sent over HTTPS only.
    bool secureCookie() const {
        return https() || behindProxy ||
               verifyBase.trimmed().startsWith(QStringLiteral("https://"), Qt::CaseInsensitive);
    }
};

// The sections' keys and values of an ini text ("section/key" → value); lines that are empty
// or start with # or ; are skipped. `error` names the first line that is none of these.
std::map<QString, QString> ParseIni(const QString& text, QString* error);

// The settings of an ini text; nothing with the reason in `error` for a value that cannot be.
std::optional<LabConfig> ConfigFromIni(const QString& text, QString* error);

// The settings of the file at `path`; nothing with the reason in `error`.
std::optional<LabConfig> ReadLabConfig(const QString& path, QString* error);

// A libpq "key=value" connection string for the database settings (values quoted as libpq
// reads them), without the password.
QString ConnInfo(const LabConfig& config);

// The password from the password file (its first line); empty when none is set. `error` says
// why a file that is set could not be read.
QString ReadPassword(const LabConfig& config, QString* error);

}  // namespace lab
