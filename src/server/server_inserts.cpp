#include "server/server_inserts.h"

#include <algorithm>

#include "archive/test_states.h"
#include "server/server_rows.h"

namespace server {
namespace {

// Rows per INSERT: well below the protocol's 65535 parameters.
constexpr size_t kRowsPerStatement = 1000;

QString NotNull(const QString& text) { return text.isNull() ? QStringLiteral("") : text; }

}  // namespace

qint64 InsertBench(PgConnection& db, const BenchIdentity& b, const QString& benchUid) {
    const QString uid =
        benchUid.isEmpty() ? QStringLiteral("host:") + NotNull(b.hostName) : benchUid;
    PgParams key;
    key.add(uid).add(NotNull(b.portName));
    PgParams p = key;
    p.add(NotNull(b.hostName)).add(NotNull(b.portDevice));
    p.add(NotNull(b.usbSerial)).add(NotNull(b.programVersion));
    db.exec(
        "INSERT INTO benches (bench_uid, port_name, host_name, port_device, usb_serial, "
        "program_version) VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT DO NOTHING",
        p);
    return db
        .exec(
            "SELECT id FROM benches WHERE role_name = current_user AND bench_uid = $1 AND "
            "port_name = $2",
            key)
        .integer(0, 0);
}

void InsertTest(PgConnection& db, qint64 benchId, const archive::TestHeader& header,
                const StartLabels& startedOn) {
    PgParams p;
    p.add(benchId).add(startedOn.hostName).add(startedOn.usbSerial);
    AddHeader(p, header);
    const QByteArray sql = QByteArray("INSERT INTO tests (bench_id, host_name, usb_serial, ") +
                           kTestColumns + ") VALUES " + ValuesList(1, 3 + kTestColumnCount) +
                           " ON CONFLICT DO NOTHING";
    db.exec(sql.constData(), p);
}

void InsertStates(PgConnection& db, const QString& uid, int firstOrdinal,
                  const std::vector<archive::StateChange>& states) {
    if (states.empty()) return;
    PgParams p;
    int ordinal = firstOrdinal;
    for (const archive::StateChange& s : states)
        p.add(uid)
            .add(qint64{ordinal++})
            .add(QString::fromLatin1(archive::StateName(s.state)))
            .add(s.atMs);
    const QByteArray sql = "INSERT INTO state_changes (test_uid, ordinal, state, at_ms) VALUES " +
                           ValuesList(int(states.size()), 4) + " ON CONFLICT DO NOTHING";
    db.exec(sql.constData(), p);
}

void InsertRecords(PgConnection& db, const QString& uid, int revision,
                   const std::vector<archive::RecordRow>& records) {
    for (size_t first = 0; first < records.size(); first += kRowsPerStatement) {
        const size_t end = std::min(records.size(), first + kRowsPerStatement);
        PgParams p;
        for (size_t i = first; i < end; ++i) {
            p.add(uid).add(qint64{revision});
            AddRecord(p, records[i]);
        }
        const QByteArray sql =
            QByteArray("INSERT INTO records (test_uid, revision, ") + kRecordColumns + ") VALUES " +
            ValuesList(int(end - first), 2 + kRecordColumnCount) + " ON CONFLICT DO NOTHING";
        db.exec(sql.constData(), p);
    }
}

void InsertPolls(PgConnection& db, const QString& uid, int firstSeq,
                 const std::vector<archive::PollRow>& polls) {
    for (size_t first = 0; first < polls.size(); first += kRowsPerStatement) {
        const size_t end = std::min(polls.size(), first + kRowsPerStatement);
        PgParams p;
        for (size_t i = first; i < end; ++i) {
            p.add(uid).add(qint64(firstSeq) + qint64(i));
            AddPoll(p, polls[i]);
        }
        const QByteArray sql = QByteArray("INSERT INTO polls (test_uid, seq, ") + kPollColumns +
                               ") VALUES " + ValuesList(int(end - first), 2 + kPollColumnCount) +
                               " ON CONFLICT DO NOTHING";
        db.exec(sql.constData(), p);
    }
}

void InsertWholeTest(PgConnection& db, qint64 benchId, const archive::ArchivedTest& test,
                     const std::vector<archive::PollRow>& polls) {
    PgTransaction transaction(db);
    InsertTest(db, benchId, test.header);
    InsertStates(db, test.header.uid, 1, test.states);
    InsertRecords(db, test.header.uid, 1, test.records);
    InsertPolls(db, test.header.uid, 1, polls);
    transaction.commit();
}

}  // namespace server
