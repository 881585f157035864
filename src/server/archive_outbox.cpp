#include "server/archive_outbox.h"

#include <string>

#include "archive/archive_columns.h"

namespace server {

using archive::Connection;
using archive::Statement;
using archive::WriteTransaction;

std::vector<OutboxTest> ArchiveOutbox::unsettledTests(int limit) {
    Statement s(m_db,
                "SELECT id, uid, sent_header, sent_states, sent_polls FROM test "
                "WHERE sent_settled = 0 ORDER BY closed, id LIMIT ?1");
    s.bind(1, qint64{limit});
    std::vector<OutboxTest> tests;
    while (s.step())
        tests.push_back(
            {s.integer(0), s.text(1), s.integer(2) != 0, int(s.integer(3)), int(s.integer(4))});
    return tests;
}

archive::TestHeader ArchiveOutbox::header(qint64 testId) {
    Statement h(m_db,
                (std::string("SELECT ") + archive::kTestHeaderColumns + " FROM test WHERE id = ?1")
                    .c_str());
    h.bind(1, testId);
    if (!h.step()) return {};
    return archive::TestHeaderAt(h);
}

std::vector<archive::StateChange> ArchiveOutbox::statesAfter(qint64 testId, int alreadySent) {
    Statement s(m_db,
                "SELECT state, at_ms FROM state_change WHERE test_id = ?1 ORDER BY rowid "
                "LIMIT -1 OFFSET ?2");
    s.bind(1, testId).bind(2, qint64{alreadySent});
    std::vector<archive::StateChange> states;
    while (s.step())
        states.push_back(
            {archive::StateFromName(s.text(0)).value_or(archive::TestState::Interrupted),
             s.integer(1)});
    return states;
}

std::vector<OutboxRecord> ArchiveOutbox::unsentRecords(qint64 testId) {
    Statement s(m_db, (std::string("SELECT ") + archive::kRecordRowColumns +
                       ", revision FROM record WHERE test_id = ?1 AND sent = 0 ORDER BY number")
                          .c_str());
    s.bind(1, testId);
    std::vector<OutboxRecord> records;
    while (s.step()) {
        OutboxRecord r;
        r.row = archive::RecordAt(s);
        r.revision = int(s.integer(16));
        records.push_back(std::move(r));
    }
    return records;
}

std::vector<OutboxPoll> ArchiveOutbox::pollsAfter(qint64 testId, int seq, int limit) {
    Statement s(m_db, (std::string("SELECT seq, ") + archive::kPollRowColumns +
                       " FROM poll WHERE test_id = ?1 AND seq > ?2 ORDER BY seq LIMIT ?3")
                          .c_str());
    s.bind(1, testId).bind(2, qint64{seq}).bind(3, qint64{limit});
    std::vector<OutboxPoll> polls;
    while (s.step()) {
        OutboxPoll p;
        p.seq = int(s.integer(0));
        p.row = archive::PollAt(s, 1);
        polls.push_back(std::move(p));
    }
    return polls;
}

std::vector<OutboxAudit> ArchiveOutbox::unsentAudit(int limit, qint64 afterId) {
    Statement s(m_db,
                "SELECT id, uid, test_uid, user_name, action, detail, file_kind, file_name, "
                "file_sha256, file_size, at_ms, host_name, port_name, port_device, "
                "program_version, usb_serial FROM audit_event WHERE sent = 0 AND id > ?2 "
                "ORDER BY id LIMIT ?1");
    s.bind(1, qint64{limit});
    s.bind(2, afterId);
    std::vector<OutboxAudit> events;
    while (s.step()) {
        OutboxAudit e;
        e.id = s.integer(0);
        e.uid = s.text(1);
        e.testUid = s.text(2);
        e.user = s.text(3);
        e.action = s.text(4);
        e.detail = s.text(5);
        e.fileKind = s.text(6);
        e.fileName = s.text(7);
        e.fileSha256 = s.text(8);
        if (!s.isNull(9)) e.fileSize = s.integer(9);
        e.atMs = s.integer(10);
        e.hostName = s.text(11);
        e.portName = s.text(12);
        e.portDevice = s.text(13);
        e.programVersion = s.text(14);
        if (!s.isNull(15)) e.usbSerial = s.text(15);
        events.push_back(std::move(e));
    }
    return events;
}

StartLabels ArchiveOutbox::startedOn(const QString& uid) {
    Statement s(m_db,
                "SELECT host_name, usb_serial FROM audit_event WHERE test_uid = ?1 "
                "ORDER BY id LIMIT 1");
    s.bind(1, uid);
    StartLabels labels;
    if (!s.step()) return labels;
    labels.hostName = s.text(0);
    if (!s.isNull(1)) labels.usbSerial = s.text(1);
    return labels;
}

void ArchiveOutbox::markSent(qint64 testId, bool header, int statesCount,
                             const std::vector<OutboxRecord>& records, int pollSeq) {
    WriteTransaction transaction(m_db);
    if (header)
        Statement(m_db, "UPDATE test SET sent_header = 1 WHERE id = ?1").bind(1, testId).run();
    if (statesCount > 0)
        Statement(m_db, "UPDATE test SET sent_states = max(sent_states, ?2) WHERE id = ?1")
            .bind(1, testId)
            .bind(2, qint64{statesCount})
            .run();
    if (!records.empty()) {
        // Only the revision that was sent: a record changed meanwhile stays to be sent.
        Statement s(m_db,
                    "UPDATE record SET sent = 1 WHERE test_id = ?1 AND number = ?2 AND "
                    "revision = ?3");
        for (const OutboxRecord& r : records)
            s.bind(1, testId).bind(2, qint64{r.row.number}).bind(3, qint64{r.revision}).run();
    }
    if (pollSeq > 0)
        Statement(m_db, "UPDATE test SET sent_polls = max(sent_polls, ?2) WHERE id = ?1")
            .bind(1, testId)
            .bind(2, qint64{pollSeq})
            .run();
    transaction.commit();
}

void ArchiveOutbox::markAudit(const std::vector<OutboxAudit>& sent) {
    WriteTransaction transaction(m_db);
    Statement s(m_db, "UPDATE audit_event SET sent = 1 WHERE id = ?1");
    for (const OutboxAudit& e : sent) s.bind(1, e.id).run();
    transaction.commit();
}

bool ArchiveOutbox::settle(qint64 testId) {
    WriteTransaction transaction(m_db);
    Statement s(m_db, R"(
UPDATE test SET sent_settled = 1
WHERE id = ?1 AND sent_header = 1
  AND sent_states >= (SELECT count(*) FROM state_change WHERE test_id = ?1)
  AND sent_polls >= (SELECT coalesce(max(seq), 0) FROM poll WHERE test_id = ?1)
  AND NOT EXISTS (SELECT 1 FROM record WHERE test_id = ?1 AND sent = 0)
)");
    s.bind(1, testId).run();
    const bool settled = sqlite3_changes(m_db.get()) > 0;
    transaction.commit();
    return settled;
}

bool ArchiveOutbox::markFor(const QString& serverUid) {
    if (m_db.queryText("SELECT server_uid FROM sent_to") == serverUid) return false;
    WriteTransaction transaction(m_db);
    Statement s(m_db, "SELECT server_uid FROM sent_to");
    if (s.step() && s.text(0) == serverUid) return false;
    m_db.exec(
        "UPDATE test SET sent_header = 0, sent_states = 0, sent_polls = 0, sent_settled = 0;"
        "UPDATE record SET sent = 0 WHERE sent <> 0;"
        "UPDATE audit_event SET sent = 0 WHERE sent <> 0;"
        "DELETE FROM sent_to;");
    Statement(m_db, "INSERT INTO sent_to (server_uid) VALUES (?1)").bindText(1, serverUid).run();
    transaction.commit();
    return true;
}

std::vector<OutboxTest> ArchiveOutbox::settledTests(qint64 afterId, int limit) {
    Statement s(m_db,
                "SELECT id, uid, sent_header, sent_states, sent_polls FROM test "
                "WHERE sent_settled = 1 AND id > ?1 ORDER BY id LIMIT ?2");
    s.bind(1, afterId).bind(2, qint64{limit});
    std::vector<OutboxTest> tests;
    while (s.step())
        tests.push_back(
            {s.integer(0), s.text(1), s.integer(2) != 0, int(s.integer(3)), int(s.integer(4))});
    return tests;
}

void ArchiveOutbox::reopen(qint64 testId, const Reopen& parts) {
    WriteTransaction transaction(m_db);
    Statement(m_db,
              "UPDATE test SET sent_settled = 0, "
              "sent_header = CASE WHEN ?2 THEN 0 ELSE sent_header END, "
              "sent_states = CASE WHEN ?3 THEN 0 ELSE sent_states END, "
              "sent_polls = CASE WHEN ?4 THEN 0 ELSE sent_polls END WHERE id = ?1")
        .bind(1, testId)
        .bind(2, qint64{parts.header})
        .bind(3, qint64{parts.states})
        .bind(4, qint64{parts.polls})
        .run();
    if (parts.records)
        Statement(m_db, "UPDATE record SET sent = 0 WHERE test_id = ?1 AND sent <> 0")
            .bind(1, testId)
            .run();
    transaction.commit();
}

qint64 ArchiveOutbox::pendingCount() {
    return m_db.queryInt(R"(
SELECT (SELECT count(*) FROM record WHERE sent = 0)
     + (SELECT count(*) FROM audit_event WHERE sent = 0)
     + coalesce((SELECT sum(1 - t.sent_header
         + max(0, (SELECT count(*) FROM state_change s WHERE s.test_id = t.id) - t.sent_states)
         + max(0, (SELECT coalesce(max(seq), 0) FROM poll p WHERE p.test_id = t.id) - t.sent_polls))
       FROM test t WHERE t.sent_settled = 0), 0)
)");
}

std::optional<qint64> PendingRows(const QString& archivePath) {
    try {
        Connection db(archivePath, SQLITE_OPEN_READONLY);
        sqlite3_busy_timeout(db.get(), 2000);
        return ArchiveOutbox(db).pendingCount();
    } catch (const archive::SqlError&) {
        return std::nullopt;
    }
}

}  // namespace server
