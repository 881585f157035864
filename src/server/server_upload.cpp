#include "server/server_upload.h"

#include "platform/port_names.h"
#include "server/server_inserts.h"
#include "server/server_rows.h"

namespace server {
namespace {

// Rows per INSERT: well below the protocol's 65535 parameters.
constexpr int kRowsPerStatement = 1000;

QString NotNull(const QString& text) { return text.isNull() ? QStringLiteral("") : text; }

}  // namespace

ServerUpload::ServerUpload(PgConnection& db, QString benchUid, QString hostName)
    : m_db(db), m_benchUid(std::move(benchUid)), m_hostName(std::move(hostName)) {}

qint64 ServerUpload::benchId(const QString& hostName, const QString& portName,
                             const QString& portDevice, const QString& usbSerial,
                             const QString& programVersion) {
    if (auto it = m_benches.find(portName); it != m_benches.end()) return it->second;
    // The labels as kept when it happened; an older archive kept no serial number: the adapter
    // behind the port now is the best guess left.
    const qint64 id = InsertBench(
        m_db,
        {hostName.isEmpty() ? m_hostName : hostName, portName, portDevice,
         usbSerial.isNull() ? PortNames::usbSerial(portDevice) : usbSerial, programVersion},
        m_benchUid);
    m_benches[portName] = id;
    return id;
}

StartLabels ServerUpload::labelsOf(const archive::TestHeader& h,
                                   const StartLabels& startedOn) const {
    // As kept when it started; an archive that did not keep them: this computer's name and
    // the adapter behind the port now, the best guess left.
    return {
        startedOn.hostName.isEmpty() ? m_hostName : startedOn.hostName,
        startedOn.usbSerial.isNull() ? PortNames::usbSerial(h.portDevice) : startedOn.usbSerial};
}

qint64 ServerUpload::benchOf(const archive::TestHeader& h, const StartLabels& labels) {
    return benchId(labels.hostName, h.portName, h.portDevice, labels.usbSerial, h.programVersion);
}

void ServerUpload::prepareBench(const archive::TestHeader& h, const StartLabels& startedOn) {
    benchOf(h, labelsOf(h, startedOn));
}

void ServerUpload::sendTest(const archive::TestHeader& h, const StartLabels& startedOn) {
    // The bench row may be made from a guess; the test keeps only what its archive kept
    // (null otherwise, and readers show the bench row's), so a guess is never filed as a fact.
    StartLabels kept = startedOn;
    if (kept.hostName.isEmpty()) kept.hostName = QString();
    InsertTest(m_db, benchOf(h, labelsOf(h, startedOn)), h, kept);
}

void ServerUpload::sendStates(const QString& uid, int firstOrdinal,
                              const std::vector<archive::StateChange>& states) {
    InsertStates(m_db, uid, firstOrdinal, states);
}

void ServerUpload::sendRecords(const QString& uid, const std::vector<OutboxRecord>& records) {
    for (size_t first = 0; first < records.size(); first += kRowsPerStatement) {
        const size_t end = std::min(records.size(), first + kRowsPerStatement);
        PgParams p;
        for (size_t i = first; i < end; ++i) {
            p.add(uid).add(qint64{records[i].revision});
            AddRecord(p, records[i].row);
        }
        const QByteArray sql =
            QByteArray("INSERT INTO records (test_uid, revision, ") + kRecordColumns + ") VALUES " +
            ValuesList(int(end - first), 2 + kRecordColumnCount) + " ON CONFLICT DO NOTHING";
        m_db.exec(sql.constData(), p);
    }
}

void ServerUpload::sendPolls(const QString& uid, const std::vector<OutboxPoll>& polls) {
    for (size_t first = 0; first < polls.size(); first += kRowsPerStatement) {
        const size_t end = std::min(polls.size(), first + kRowsPerStatement);
        PgParams p;
        for (size_t i = first; i < end; ++i) {
            p.add(uid).add(qint64{polls[i].seq});
            AddPoll(p, polls[i].row);
        }
        const QByteArray sql = QByteArray("INSERT INTO polls (test_uid, seq, ") + kPollColumns +
                               ") VALUES " + ValuesList(int(end - first), 2 + kPollColumnCount) +
                               " ON CONFLICT DO NOTHING";
        m_db.exec(sql.constData(), p);
    }
}

std::vector<OutboxAudit> ServerUpload::sendAudit(const std::vector<OutboxAudit>& events,
                                                 std::optional<PgError>& refused) {
    if (events.empty()) return {};
    try {
        insertAudit(events.begin(), events.end());
        return events;
    } catch (const PgError& e) {
        if (e.kind != PgError::Kind::Refused || !m_db.ok()) throw;
    }
    std::vector<OutboxAudit> sent;
    for (auto e = events.begin(); e != events.end(); ++e) {
        try {
            insertAudit(e, e + 1);
            sent.push_back(*e);
        } catch (const PgError& error) {
            if (error.kind != PgError::Kind::Refused || !m_db.ok()) throw;
            if (!refused) refused = error;
        }
    }
    return sent;
}

void ServerUpload::insertAudit(std::vector<OutboxAudit>::const_iterator first,
                               std::vector<OutboxAudit>::const_iterator end) {
    PgParams p;
    for (auto it = first; it != end; ++it) {
        const OutboxAudit& e = *it;
        p.add(e.uid).add(
            benchId(e.hostName, e.portName, e.portDevice, e.usbSerial, e.programVersion));
        if (e.testUid.isEmpty())
            p.addNull();
        else
            p.add(e.testUid);
        p.add(e.atMs).add(NotNull(e.user)).add(NotNull(e.action)).add(NotNull(e.detail));
        p.add(e.fileKind).add(e.fileName);
        if (e.fileSize)
            p.add(*e.fileSize);
        else
            p.addNull();
        p.add(e.fileSha256);
    }
    const QByteArray sql =
        "INSERT INTO audit_events (uid, bench_id, test_uid, at_ms, user_name, action, detail, "
        "file_kind, file_name, file_size, file_sha256) VALUES " +
        ValuesList(int(end - first), 11) + " ON CONFLICT DO NOTHING";
    m_db.exec(sql.constData(), p);
}

}  // namespace server
