#include "archive/archive_reader.h"

#include <string>

#include "archive/archive_messages.h"
#include "archive/archive_open.h"
#include "archive/sqlite_handle.h"

namespace archive {
namespace {

constexpr const char* kSummaryColumns =
    "id, uid, test_date, start_time, tester, organisation, test_minutes, record_interval, "
    "diameter, record_count, state, closed, started_at_ms, changed_at_ms, "
    "last_charge_1, last_charge_2, last_charge_3, last_charge_4, last_charge_5, last_charge_6, "
    "channel_off_1, channel_off_2, channel_off_3, channel_off_4, channel_off_5, channel_off_6";

constexpr const char* kHeaderColumns =
    "uid, test_date, start_time, started_at_ms, user_name, port_index, port_name, port_device, "
    "voltage, test_minutes, record_interval, diameter, tester, organisation, "
    "specimen_no_0, specimen_no_1, specimen_no_2, specimen_no_3, specimen_no_4, specimen_no_5, "
    "specimen_no_6, specimen_no_7, specimen_no_8, "
    "channel_off_1, channel_off_2, channel_off_3, channel_off_4, channel_off_5, channel_off_6, "
    "program_version, state, closed";

constexpr const char* kChannelTexts =
    "current_1, current_2, current_3, current_4, current_5, current_6, "
    "charge_1, charge_2, charge_3, charge_4, charge_5, charge_6";

TestState StateAt(const Statement& s, int column) {
    return StateFromName(s.text(column)).value_or(TestState::Interrupted);
}

// Reads the twelve channel texts that start at `column`.
void ReadChannels(const Statement& s, int column, std::array<QString, kChannels>& current,
                  std::array<QString, kChannels>& charge) {
    for (int ch = 0; ch < kChannels; ++ch) {
        current[ch] = s.text(column + ch);
        charge[ch] = s.text(column + kChannels + ch);
    }
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

std::vector<TestSummary> ArchiveReader::summaries(const char* where) {
    std::vector<TestSummary> list;
    m_lastError.clear();
    try {
        const std::string sql = std::string("SELECT ") + kSummaryColumns + " FROM test " + where +
                                " ORDER BY started_at_ms DESC, id DESC";
        Statement s(*m_db, sql.c_str());
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
        Statement h(*m_db,
                    (std::string("SELECT ") + kHeaderColumns + " FROM test WHERE id = ?1").c_str());
        h.bind(1, id);
        if (!h.step()) return std::nullopt;
        TestHeader& t = test.header;
        t.uid = h.text(0);
        t.testDate = h.text(1);
        t.startTime = h.text(2);
        t.startedAtMs = h.integer(3);
        t.user = h.text(4);
        t.portIndex = int(h.integer(5));
        t.portName = h.text(6);
        t.portDevice = h.text(7);
        t.voltage = h.text(8);
        t.testMinutes = int32_t(h.integer(9));
        t.recordInterval = int32_t(h.integer(10));
        t.diameter = int32_t(h.integer(11));
        t.tester = h.text(12);
        t.organisation = h.text(13);
        for (int slot = 0; slot < kSpecimenSlots; ++slot) t.specimenNo[slot] = h.text(14 + slot);
        for (int ch = 0; ch < kChannels; ++ch) t.channelOff[ch] = uint8_t(h.integer(23 + ch));
        t.programVersion = h.text(29);
        test.state = StateAt(h, 30);
        test.closed = h.integer(31) != 0;

        Statement r(*m_db, (std::string("SELECT number, minutes, temperature, at_ms, ") +
                            kChannelTexts + " FROM record WHERE test_id = ?1 ORDER BY number")
                               .c_str());
        r.bind(1, id);
        while (r.step()) {
            RecordRow row;
            row.number = int(r.integer(0));
            row.minutes = r.optionalInt(1);
            row.temperature = r.text(2);
            row.atMs = r.integer(3);
            ReadChannels(r, 4, row.current, row.charge);
            test.records.push_back(std::move(row));
        }

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

std::vector<PollRow> ArchiveReader::pollRows(qint64 id, const char* order) {
    std::vector<PollRow> rows;
    m_lastError.clear();
    try {
        Statement s(*m_db, (std::string("SELECT at_ms, minutes, voltage, temperature, ") +
                            kChannelTexts + " FROM poll WHERE test_id = ?1 " + order)
                               .c_str());
        s.bind(1, id);
        while (s.step()) {
            PollRow row;
            row.atMs = s.integer(0);
            row.minutes = s.optionalInt(1);
            row.voltage = s.text(2);
            row.temperature = s.text(3);
            ReadChannels(s, 4, row.current, row.charge);
            rows.push_back(std::move(row));
        }
    } catch (const SqlError& error) {
        m_lastError = CannotReadText(m_path, CauseText(error, m_path, kBusyTimeoutMs));
        rows.clear();
    }
    return rows;
}

bool ArchiveReader::deleteTest(qint64 id, QString* message) {
    m_lastError.clear();
    try {
        WriteTransaction transaction(*m_db);
        Statement s(*m_db, "DELETE FROM test WHERE id = ?1");
        s.bind(1, id).run();
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
