#pragma once

#include <QString>

#include "server/pg_connection.h"
#include "server/server_password.h"

// Where the lab server is: the environment's KIVO_SERVER (a libpq URI, e.g.
// "postgresql://kivo@labserver/kivo") when it is set, otherwise the lab settings beside the
// archive (group "server"). Without either, the program works without a server. The password
// is not among the lab settings: it is kept for this account alone (server_password.h).
namespace server {

// How the connection is protected.
enum class TlsMode {
    Off,        // 不加密: nothing asked for (the server's encryption is used when it offers it)
    Encrypted,  // 加密: encrypted, the server's certificate not checked
    Verified,   // 加密并验证服务器证书: the certificate checked against a CA file and the
                // server's name, the password bound to that connection (channel binding)
};

struct ServerSettings {
    QString host;
    int port = 5432;
    QString database = QStringLiteral("kivo");
    QString user = QStringLiteral("kivo");
    QString password;  // never shown back, never logged
    TlsMode tls = TlsMode::Off;
    QString caFile;  // the CA that signed the server's certificate (TlsMode::Verified)
    QString uri;     // set from KIVO_SERVER, which then overrides the fields above

    bool configured() const { return !uri.isEmpty() || !host.isEmpty(); }
    bool fromEnvironment() const { return !uri.isEmpty(); }
    PasswordKey passwordKey() const {
        return {host, port, database, user,
                tls == TlsMode::Verified ? QStringLiteral("verify-full ") + caFile.trimmed()
                                         : QString()};
    }
    // How to connect (the password apart from the conninfo).
    PgConnection::Options connectOptions(int timeoutSeconds = 5) const;
    bool operator==(const ServerSettings&) const = default;
};

// The modes' names as the dialog shows them, in the order of TlsMode.
QString TlsModeName(TlsMode mode);

ServerSettings ReadServerSettings();

// Stores the fields (not the environment's URI) in the lab settings and the password for this
// account (an empty password removes the one kept). False with a Chinese explanation.
bool WriteServerSettings(const ServerSettings& settings, QString* error);

// The lab's address of its web service ("https://lab.example.cn", lab setting
// server/verify_base), whose verify page the QR code on a test report opens; empty when the lab
// has none (the reports then carry the report number and its code without a QR code).
QString ReadVerifyBase();
bool WriteVerifyBase(const QString& base, QString* error);

// Why `base` cannot be the verify address, for the operator; empty when it can (an http or
// https address with a host and no path but "/", or nothing).
QString VerifyBaseProblem(const QString& base);

}  // namespace server
