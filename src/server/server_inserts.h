#pragma once

#include <QString>
#include <vector>

#include "archive/archive_rows.h"
#include "server/archive_outbox.h"
#include "server/pg_connection.h"

// Idempotent INSERTs of a bench's rows into the lab server: a row the server holds already is
// skipped, so a row sent twice is stored once (and one that clashes with the held row is kept
// apart as a conflict by the server). The program's own
// sending uses them, and so does copying whole tests (the load simulator, the history
// window's tests and benchmarks).
namespace server {

// A bench: its key is the stable id kept beside its archive and the port; the rest are labels
// kept from its first test.
struct BenchIdentity {
    QString hostName, portName, portDevice, usbSerial, programVersion;
};

// The id of the bench `benchUid` (bench_uid.h; empty: the host's name stands in, for copies
// of whole tests) on the bench's port, its row made on first use under the role connected.
qint64 InsertBench(PgConnection& db, const BenchIdentity& bench, const QString& benchUid = {});
// `startedOn`: the bench's labels when the test started, kept with the test (null ones stay
// null: readers show the bench row's).
void InsertTest(PgConnection& db, qint64 benchId, const archive::TestHeader& header,
                const StartLabels& startedOn = {});
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
