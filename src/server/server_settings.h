#pragma once

#include <QString>

#include "server/pg_connection.h"

// Where the lab server is: the environment's KIVO_SERVER (a libpq URI, e.g.
// "postgresql://kivo@labserver/kivo") when it is set, otherwise the lab settings beside the
// archive (group "server"). Without either, the program works without a server.
namespace server {

struct ServerSettings {
    QString host;
    int port = 5432;
    QString database = QStringLiteral("kivo");
    QString user = QStringLiteral("kivo");
    QString password;         // never shown back, never logged
    bool requireTls = false;  // sslmode=require instead of prefer
    QString uri;              // set from KIVO_SERVER, which then overrides the fields above

    bool configured() const { return !uri.isEmpty() || !host.isEmpty(); }
    bool fromEnvironment() const { return !uri.isEmpty(); }
    // How to connect (the password apart from the conninfo).
    PgConnection::Options connectOptions(int timeoutSeconds = 5) const;
    bool operator==(const ServerSettings&) const = default;
};

ServerSettings ReadServerSettings();

// Stores the fields (not the environment's URI). The settings file is then readable by its
// owner and group only, since it holds the password. False with a Chinese explanation.
bool WriteServerSettings(const ServerSettings& settings, QString* error);

}  // namespace server
