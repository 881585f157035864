#include "local_server.h"

#include <libpq-fe.h>

#include <QStringList>

QString RefuseRemoteServer(const QString& conninfo) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.toUtf8().constData(), &error);
    if (options == nullptr) {
        const QString why = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("?");
        PQfreemem(error);
        return QStringLiteral("cannot read the connection string: %1").arg(why);
    }
    QString refused;
    for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
        const QString key = QString::fromLatin1(o->keyword);
        if ((key != "host" && key != "hostaddr") || o->val == nullptr) continue;
        // Several hosts may be listed; each must be this machine.
        for (const QString& host : QString::fromUtf8(o->val).split(u',')) {
            const QString h = host.trimmed();
            if (h.isEmpty() || h.startsWith(u'/') || h == "127.0.0.1" || h == "::1" ||
                h == "localhost")
                continue;
            refused = QStringLiteral(
                          "%1 is not this machine: only 127.0.0.1, ::1, localhost "
                          "or a unix socket folder are served")
                          .arg(h);
        }
    }
    PQconninfoFree(options);
    return refused;
}
