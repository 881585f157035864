#include "archive/test_writes.h"

#include <optional>

#include "archive/archive_schema.h"
#include "archive/lock_key_column.h"

namespace archive {
namespace {

constexpr const char* kInsertTest = R"(
INSERT INTO test (uid, test_date, start_time, started_at_ms, user_name, port_index, port_name,
  port_device, voltage, test_minutes, record_interval, diameter, tester, organisation,
  specimen_no_0, specimen_no_1, specimen_no_2, specimen_no_3, specimen_no_4, specimen_no_5,
  specimen_no_6, specimen_no_7, specimen_no_8,
  channel_off_1, channel_off_2, channel_off_3, channel_off_4, channel_off_5, channel_off_6,
  program_version, lock_key, state, closed, changed_at_ms)
VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14,
  ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23,
  ?24, ?25, ?26, ?27, ?28, ?29, ?30, ?31, 'running', 0, ?4)
ON CONFLICT (uid) DO NOTHING
)";

// A closed window ends a test that had not finished; a finished test keeps its ending.
constexpr const char* kSetState = R"(
UPDATE test SET
  state = CASE WHEN ?2 <> 'closed' OR state IN ('running', 'paused', 'comm_failure')
               THEN ?2 ELSE state END,
  closed = closed OR ?2 = 'closed'
WHERE id = ?1
)";

constexpr const char* kInsertRecord = R"(
INSERT INTO record (test_id, number, minutes, temperature, at_ms,
  current_1, current_2, current_3, current_4, current_5, current_6,
  charge_1, charge_2, charge_3, charge_4, charge_5, charge_6)
VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17)
ON CONFLICT (test_id, number) DO UPDATE SET
  minutes = excluded.minutes, temperature = excluded.temperature, at_ms = excluded.at_ms,
  current_1 = excluded.current_1, current_2 = excluded.current_2,
  current_3 = excluded.current_3, current_4 = excluded.current_4,
  current_5 = excluded.current_5, current_6 = excluded.current_6,
  charge_1 = excluded.charge_1, charge_2 = excluded.charge_2, charge_3 = excluded.charge_3,
  charge_4 = excluded.charge_4, charge_5 = excluded.charge_5, charge_6 = excluded.charge_6
)";

// Polls are numbered within their test; the number comes from the primary key's last entry.
constexpr const char* kInsertPoll = R"(
INSERT INTO poll (test_id, seq, at_ms, minutes, voltage, temperature,
  current_1, current_2, current_3, current_4, current_5, current_6,
  charge_1, charge_2, charge_3, charge_4, charge_5, charge_6)
VALUES (?1, (SELECT coalesce(max(seq), 0) + 1 FROM poll WHERE test_id = ?1),
  ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17)
)";

}  // namespace

TestWrites::TestWrites(Connection& db)
    : m_db(db),
      m_insertTest(db, kInsertTest),
      m_findTest(db, "SELECT id FROM test WHERE uid = ?1"),
      m_insertState(db, "INSERT INTO state_change (test_id, state, at_ms) VALUES (?1, ?2, ?3)"),
      m_setState(db, kSetState),
      m_insertRecord(db, kInsertRecord),
      m_refreshSummary(db, RefreshSummarySql().c_str()),
      m_insertPoll(db, kInsertPoll),
      m_counts(db,
               "SELECT (SELECT count(*) FROM state_change WHERE test_id = ?1),"
               " (SELECT count(*) FROM record WHERE test_id = ?1),"
               " (SELECT count(*) FROM poll WHERE test_id = ?1)"),
      m_findState(db,
                  "SELECT 1 FROM state_change WHERE test_id = ?1 AND state = ?2 AND at_ms = ?3") {}

qint64 TestWrites::testId(const QString& uid) {
    m_findTest.bind(1, uid);
    const qint64 id = m_findTest.step() ? m_findTest.integer(0) : 0;
    m_findTest.reset();
    return id;
}

std::optional<TestWrites::Counts> TestWrites::counts(const QString& uid) {
    const qint64 id = testId(uid);
    if (id == 0) return std::nullopt;
    m_counts.bind(1, id);
    Counts counts;
    if (m_counts.step()) counts = {m_counts.integer(0), m_counts.integer(1), m_counts.integer(2)};
    m_counts.reset();
    return counts;
}

bool TestWrites::hasStateChange(const QString& uid, TestState state, qint64 atMs) {
    const qint64 id = testId(uid);
    if (id == 0) return false;
    m_findState.bind(1, id).bind(2, QString::fromLatin1(StateName(state))).bind(3, atMs);
    const bool found = m_findState.step();
    m_findState.reset();
    return found;
}

QString TestWrites::lockKey(const QString& uid) {
    Statement s(m_db, "SELECT lock_key FROM test WHERE uid = ?1");
    s.bindText(1, uid);
    return s.step() ? SplitLockKeyColumn(s.text(0)).key : QString();
}

void TestWrites::beginTest(const TestHeader& h) {
    WriteTransaction transaction(m_db);
    Statement& s = m_insertTest;
    s.bindText(1, h.uid).bindText(2, h.testDate).bindText(3, h.startTime).bind(4, h.startedAtMs);
    s.bindText(5, h.user).bind(6, qint64{h.portIndex}).bindText(7, h.portName);
    s.bindText(8, h.portDevice).bindText(9, h.voltage).bind(10, qint64{h.testMinutes});
    s.bind(11, qint64{h.recordInterval}).bind(12, qint64{h.diameter});
    s.bindText(13, h.tester).bindText(14, h.organisation);
    for (int slot = 0; slot < kSpecimenSlots; ++slot) s.bindText(15 + slot, h.specimenNo[slot]);
    for (int ch = 0; ch < kChannels; ++ch) s.bind(24 + ch, qint64{h.channelOff[ch]});
    s.bindText(30, h.programVersion).bindText(31, LockKeyColumn(h.lockKey, h.lockHolder));
    s.run();
    transaction.commit();
}

int TestWrites::changeState(const QString& uid, TestState state, qint64 atMs) {
    const QString name = QLatin1String(StateName(state));
    WriteTransaction transaction(m_db);
    const qint64 id = testId(uid);
    if (id == 0) return 0;
    m_insertState.bind(1, id).bind(2, name).bind(3, atMs).run();
    m_setState.bind(1, id).bind(2, name).run();
    m_refreshSummary.bind(1, id).run();
    transaction.commit();
    return 1;
}

int TestWrites::addRecord(const QString& uid, const RecordRow& r) {
    WriteTransaction transaction(m_db);
    const qint64 id = testId(uid);
    if (id == 0) return 0;
    Statement& s = m_insertRecord;
    s.bind(1, id).bind(2, qint64{r.number}).bind(3, r.minutes).bind(4, r.temperature);
    s.bind(5, r.atMs);
    for (int ch = 0; ch < kChannels; ++ch) {
        s.bind(6 + ch, r.current[ch]);
        s.bind(12 + ch, r.charge[ch]);
    }
    s.run();
    m_refreshSummary.bind(1, id).run();
    transaction.commit();
    return 1;
}

int TestWrites::addPolls(const std::vector<std::pair<QString, const PollRow*>>& polls) {
    if (polls.empty()) return 0;
    WriteTransaction transaction(m_db);
    Statement& s = m_insertPoll;
    std::optional<QString> lastUid;
    qint64 id = 0;
    int written = 0;
    for (const auto& [uid, p] : polls) {
        if (uid != lastUid) {
            lastUid = uid;
            id = testId(uid);
        }
        if (id == 0) continue;
        s.bind(1, id).bind(2, p->atMs).bind(3, p->minutes).bind(4, p->voltage);
        s.bind(5, p->temperature);
        for (int ch = 0; ch < kChannels; ++ch) {
            s.bind(6 + ch, p->current[ch]);
            s.bind(12 + ch, p->charge[ch]);
        }
        s.run();
        ++written;
    }
    transaction.commit();
    return written;
}

}  // namespace archive
