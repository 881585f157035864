#pragma once

#include "server/pg_connection.h"

// The lab server's tables and how an older database is brought up to date. Every row is keyed
// by what names it in every bench's archive (a test's uid, a record's number, a poll's
// sequence number, an audit event's uid), so whatever is sent twice is stored once.
namespace server {

// The version this program writes and reads.
constexpr int kServerSchemaVersion = 5;

// Brings the database to kServerSchemaVersion: nothing to do when it is there already (a role
// that may only insert and select needs nothing more); otherwise the missing steps run in one
// transaction under an advisory lock, so benches that start together upgrade once, free of the
// session's statement limit (a large database takes its time) but not of its lock limit: an
// attempt that waits for a lock longer than that is rolled back and begun again, a few times,
// then given up (Unreachable, UpgradeBlockedMessage()). Returns the version found before (0
// for an empty database). Throws PgError: Refused with a clear message when the database is
// newer than this program, and whatever the server refuses. `target`
// below kServerSchemaVersion stops at an older version (tests of the upgrades).
int PrepareServerSchema(PgConnection& db, int target = kServerSchemaVersion);

// The version the database holds, 0 when it has none of our tables.
int ServerSchemaVersion(PgConnection& db);

// The database's own uid, made with its tables: tells a bench whether the marks of what it
// has sent belong to this database or to another one.
QString ServerIdentity(PgConnection& db);

// An upgrade given up because a lock on the server was held too long, for the operator.
QString UpgradeBlockedMessage();

// The refusal of a newer database, for the operator.
QString NewerSchemaMessage(int found);

}  // namespace server
