#pragma once

#include <QString>
#include <QStringList>

#include "archive/sqlite_handle.h"
#include "server/pg_connection.h"

// The account of a bench's audit trail: how many of its events there are and the sum of their
// hashes (each event by its uid and time). The server computes its own from the events filed
// under the bench's stable id; the bench computes the same from the events its archive marks
// as sent. When the two differ (a server restored from an older dump lacks what arrived after
// it), the bench asks which of its events the server lacks and sends those again.
namespace server {

struct AuditAccount {
    qint64 events = 0;
    QString sum = QStringLiteral("0");
    bool operator==(const AuditAccount&) const = default;
};

// The events of the archive marked as sent.
AuditAccount LocalAuditAccount(archive::Connection& db);
// The events the server holds of the bench `benchUid`. Throws PgError.
AuditAccount ServerAuditAccount(PgConnection& db, const QString& benchUid);
// Marks to be sent again the archive's events marked as sent that the server does not hold
// (by their uids, whatever bench they were filed under); returns how many. Throws PgError and
// archive::SqlError.
int ReopenMissingAudit(archive::Connection& local, PgConnection& db);

}  // namespace server
