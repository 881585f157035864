#pragma once

#include <QString>

// The load simulator talks to a server on this machine only: 127.0.0.1, ::1, localhost or a
// unix socket folder. Empty when `conninfo` (a libpq URI or "key=value" string) names nothing
// else; otherwise why it is refused.
QString RefuseRemoteServer(const QString& conninfo);
