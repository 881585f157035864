#include "archive/archive_reader.h"

#include <string>
#include <utility>

#include "archive/archive_columns.h"
#include "archive/archive_messages.h"
#include "archive/archive_open.h"
#include "archive/lock_key_column.h"
#include "archive/sqlite_handle.h"

namespace archive {
namespace {

constexpr const char* kSummaryColumns =
    "id, uid, test_date, start_time, tester, organisation, test_minutes, record_interval, "
    "diameter, record_count, state, closed, started_at_ms, changed_at_ms, "
    "last_charge_1, last_charge_2, last_charge_3, last_charge_4, last_charge_5, last_charge_6, "
    "channel_off_1, channel_off_2, channel_off_3, channel_off_4, channel_off_5, channel_off_6, "
    "lock_key";

TestState StateAt(const Statement& s, int column) {
    return StateFromName(s.text(column)).value_or(TestState::Interrupted);
}

}  // namespace

std::unique_ptr<ArchiveReader> ArchiveReader::open(const QString& path, QString* message) {
    OpenedArchive opened = OpenArchive(path);
    if (message) *message = opened.message;
    if (!opened.db) return nullptr;
    return std::unique_ptr<ArchiveReader>(
        new ArchiveReader(path, std::move(opened.use), std::move(opened.db)));
}

ArchiveReader::ArchiveReader(QString path, std::unique_ptr<ArchiveUse> use,
                             std::unique_ptr<Connection> db)
    : m_path(std::move(path)), m_use(std::move(use)), m_db(std::move(db)) {}

ArchiveReader::~ArchiveReader() = default;

// `where` may name the parameter ?1, bound to `uid`.
std::vector<TestSummary> ArchiveReader::summaries(const char* where, const QString& uid) {
    std::vector<TestSummary> list;
    m_lastError.clear();
    try {
        const std::string sql = std::string("SELECT ") + kSummaryColumns + " FROM test " + where +
                                " ORDER BY started_at_ms DESC, id DESC";
        Statement s(*m_db, sql.c_str());
        if (!uid.isNull()) s.bind(1, uid);
        while (s.step()) {
            TestSummary t;
            t.id = s.integer(0);
            t.uid = s.text(1);
            t.testDate = s.text(2);
            t.startTime = s.text(3);
            t.tester = s.text(4);
            t.organisation = s.text(5);
            t.testMinutes = int32_t(s.integer(6));
            t.recordInterval = int32_t(s.integer(7));
            t.diameter = int32_t(s.integer(8));
            t.recordCount = int(s.integer(9));
            t.state = StateAt(s, 10);
            t.closed = s.integer(11) != 0;
            t.startedAtMs = s.integer(12);
            t.changedAtMs = s.integer(13);
            for (int ch = 0; ch < kChannels; ++ch) {
                t.lastCharge[ch] = s.text(14 + ch);
                t.channelOff[ch] = uint8_t(s.integer(20 + ch));
            }
            LockKeyParts lock = SplitLockKeyColumn(s.text(26));
            t.lockKey = std::move(lock.key);
            t.lockHolder = std::move(lock.mark);
            list.push_back(std::move(t));
        }
    } catch (const SqlError& error) {
        m_lastError = CannotReadText(m_path, CauseText(error, m_path, kBusyTimeoutMs));
        list.clear();
    }
    return list;
}

std::vector<TestSummary> ArchiveReader::unfinishedTests() {
    return summaries("WHERE closed = 0 AND state IN ('running', 'paused', 'comm_failure')");
}

std::vector<TestSummary> ArchiveReader::listTests() { return summaries(""); }

std::optional<TestSummary> ArchiveReader::testOf(const QString& uid) {
    std::vector<TestSummary> found = summaries("WHERE uid = ?1", uid);
    if (found.empty()) return std::nullopt;
    return std::move(found.front());
}

std::optional<ArchivedTest> ArchiveReader::loadTest(qint64 id) {
    m_lastError.clear();
    try {
        // One read transaction: the test as it was at one moment, though a writer goes on.
        m_db->exec("BEGIN");
        struct End {
            Connection& db;
            ~End() { sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr); }
        } end{*m_db};

        ArchivedTest test;
        test.id = id;
        Statement h(*m_db, (std::string("SELECT ") + kTestHeaderColumns +
                            ", state, closed FROM test WHERE id = ?1")
                               .c_str());
        h.bind(1, id);
        if (!h.step()) return std::nullopt;
        test.header = TestHeaderAt(h);
        test.state = StateAt(h, kTestHeaderColumnCount);
        test.closed = h.integer(kTestHeaderColumnCount + 1) != 0;

        Statement r(*m_db, (std::string("SELECT ") + kRecordRowColumns +
                            " FROM record WHERE test_id = ?1 ORDER BY number")
                               .c_str());
        r.bind(1, id);
        while (r.step()) test.records.push_back(RecordAt(r));

        Statement c(*m_db,
                    "SELECT state, at_ms FROM state_change WHERE test_id = ?1 ORDER BY rowid");
        c.bind(1, id);
        while (c.step()) test.states.push_back(StateChange{StateAt(c, 0), c.integer(1)});
        return test;
    } catch (const SqlError& error) {
        m_lastError = CannotReadText(m_path, CauseText(error, m_path, kBusyTimeoutMs));
        return std::nullopt;
    }
}

std::vector<PollRow> ArchiveReader::polls(qint64 id) { return pollRows(id, "ORDER BY seq"); }

std::optional<PollRow> ArchiveReader::lastPoll(qint64 id) {
    std::vector<PollRow> rows = pollRows(id, "ORDER BY seq DESC LIMIT 1");
    if (rows.empty()) return std::nullopt;
    return std::move(rows.front());
}

std::vector<AuditRow> ArchiveReader::auditEvents(const QString& uid) {
    std::vector<AuditRow> rows;
    m_lastError.clear();
    try {
        Statement s(*m_db,
                    "SELECT at_ms, action, user_name, detail FROM audit_event WHERE test_uid = ?1 "
                    "ORDER BY at_ms, id");
        s.bindText(1, uid);
        while (s.step()) rows.push_back({s.integer(0), s.text(1), s.text(2), s.text(3)});
    } catch (const SqlError& error) {
        m_lastError = CannotReadText(m_path, CauseText(error, m_path, kBusyTimeoutMs));
        rows.clear();
    }
    return rows;
}

std::vector<PollRow> ArchiveReader::pollRows(qint64 id, const char* order) {
    std::vector<PollRow> rows;
    m_lastError.clear();
    try {
        Statement s(*m_db, (std::string("SELECT ") + kPollRowColumns +
                            " FROM poll WHERE test_id = ?1 " + order)
                               .c_str());
        s.bind(1, id);
        while (s.step()) rows.push_back(PollAt(s));
    } catch (const SqlError& error) {
        m_lastError = CannotReadText(m_path, CauseText(error, m_path, kBusyTimeoutMs));
        rows.clear();
    }
    return rows;
}

bool ArchiveReader::deleteTest(const QString& uid, QString* message) {
    m_lastError.clear();
    try {
        WriteTransaction transaction(*m_db);
        Statement s(*m_db, "DELETE FROM test WHERE uid = ?1");
        s.bind(1, uid).run();
        const bool found = sqlite3_changes(m_db->get()) > 0;
        transaction.commit();
        if (!found) m_lastError = QStringLiteral("测试档案 %1 中已没有这项实验。").arg(m_path);
    } catch (const SqlError& error) {
        m_lastError = CannotWriteText(m_path, CauseText(error, m_path, kBusyTimeoutMs));
    }
    if (message) *message = m_lastError;
    return m_lastError.isEmpty();
}

}  // namespace archive
