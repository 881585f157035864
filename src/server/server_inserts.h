#pragma once

#include <QString>
#include <vector>

#include "archive/archive_rows.h"
#include "server/pg_connection.h"

// Idempotent INSERTs of a bench's rows into the lab server: each skips what the server holds
// already (ON CONFLICT DO NOTHING), so a row sent twice is stored once. The program's own
// sending uses them, and so does copying whole tests (the load simulator, the history
// window's tests and benchmarks).
namespace server {

struct BenchIdentity {
    QString hostName, portName, portDevice, usbSerial, programVersion;
};

// The bench's id, its row made on first use.
qint64 InsertBench(PgConnection& db, const BenchIdentity& bench);
void InsertTest(PgConnection& db, qint64 benchId, const archive::TestHeader& header);
// States numbered from `firstOrdinal` on (1-based, in the order they happened).
void InsertStates(PgConnection& db, const QString& uid, int firstOrdinal,
                  const std::vector<archive::StateChange>& states);
void InsertRecords(PgConnection& db, const QString& uid, int revision,
                   const std::vector<archive::RecordRow>& records);
// Polls numbered from `firstSeq` on.
void InsertPolls(PgConnection& db, const QString& uid, int firstSeq,
                 const std::vector<archive::PollRow>& polls);

// A whole test, in one transaction.
void InsertWholeTest(PgConnection& db, qint64 benchId, const archive::ArchivedTest& test,
                     const std::vector<archive::PollRow>& polls);

}  // namespace server
