#include "server/server_reader.h"

#include <QList>
#include <algorithm>
#include <map>
#include <string_view>
#include <unordered_map>

#include "archive/test_states.h"
#include "server/history_indices.h"
#include "server/server_rows.h"
#include "server/server_schema.h"
#include "server/start_labels_schema.h"

namespace server {
namespace {

// One row per test with what the list shows; the server keeps each test's summary (its
// record count, last record and state changes) as they arrive, and the test its labels. The
// state is worked out here from the changes' names, as the local writer does it. The server
// filters and orders on its indices and hands one page.
QByteArray ListColumns(int version) {
    return R"(
SELECT s.test_uid, s.test_date, s.start_time, s.tester, s.organisation, s.test_minutes,
  s.record_interval, s.diameter, s.started_at_ms, s.channels_off,
  )" + TestBenchLabelsSql(version, "s.test_uid") +
           R"(,
  s.record_count, s.last_at_ms, s.last_charge_1, s.last_charge_2, s.last_charge_3,
  s.last_charge_4, s.last_charge_5, s.last_charge_6, s.state_names, s.state_at_ms
FROM test_summaries s
JOIN benches b ON b.id = s.bench_id
)";
}

// The oldest version whose summaries the list reads.
constexpr int kFirstListedVersion = 2;

// The version of the database's tables (0: none at all, an empty one lists no test); throws
// when this program cannot read it.
int ReadableVersion(PgConnection& db) {
    const int version = ServerSchemaVersion(db);
    if (version > kServerSchemaVersion)
        throw PgError(PgError::Kind::Refused, NewerSchemaMessage(version));
    if (version > 0 && version < kFirstListedVersion)
        throw PgError(PgError::Kind::Refused,
                      QStringLiteral("服务器上的数据库版本较旧（第 %1 版），"
                                     "请先让一台实验台连接服务器完成升级")
                          .arg(version));
    return version;
}

// The texts many tests share (a tester, an organisation, a date, a list of state names) read
// once and shared: tens of thousands of rows are read without as many copies.
class SharedTexts {
  public:
    explicit SharedTexts(const PgResult& result, PGresult* raw) : m_result(result), m_raw(raw) {}
    QString at(int row, int column) {
        if (PQgetisnull(m_raw, row, column)) return QString();
        const std::string_view key(PQgetvalue(m_raw, row, column),
                                   size_t(PQgetlength(m_raw, row, column)));
        auto found = m_texts.find(key);
        if (found == m_texts.end()) found = m_texts.emplace(key, m_result.text(row, column)).first;
        return found->second;
    }

  private:
    const PgResult& m_result;
    PGresult* m_raw;
    std::unordered_map<std::string_view, QString> m_texts;  // views into the result
};

archive::TestState StateNamed(QStringView name) {
    return archive::StateFromName(name.toString()).value_or(archive::TestState::Interrupted);
}

}  // namespace

QString ContainsPattern(const QString& text) {
    QString escaped;
    for (const QChar c : text) {
        if (c == u'%' || c == u'_' || c == u'\\') escaped += u'\\';
        escaped += c;
    }
    return u'%' + escaped + u'%';
}

QByteArray TestBenchLabelsSql(int version, const char* uid) {
    const QByteArray ofTest = QByteArray(" FROM tests lt WHERE lt.uid = ") + uid + ')';
    const QByteArray host = version >= kStartLabelsVersion
                                ? "coalesce((SELECT lt.host_name" + ofTest + ", b.host_name)"
                                : QByteArray("b.host_name");
    return host + ", b.port_name, coalesce(nullif((SELECT lt.port_device" + ofTest +
           ", ''), b.port_device)";
}

QString BenchText(const QString& hostName, const QString& portName, const QString& portDevice) {
    QString text = hostName;
    if (!portName.isEmpty()) text += u' ' + portName;
    if (!portDevice.isEmpty()) text += QStringLiteral("（%1）").arg(portDevice);
    return text;
}

void ApplyStates(const std::vector<archive::StateChange>& changes, archive::TestState* state,
                 bool* closed) {
    *state = archive::TestState::Running;
    *closed = false;
    for (const archive::StateChange& change : changes) {
        // A closed window ends a test that had not finished; a finished test keeps its ending.
        if (change.state != archive::TestState::Closed || archive::IsUnfinished(*state))
            *state = change.state;
        if (change.state == archive::TestState::Closed) *closed = true;
    }
}

ServerTestList ListServerTests(PgConnection& db, const ServerListQuery& query) {
    const int version = ReadableVersion(db);
    if (version == 0) return {};
    QByteArray sql = ListColumns(version);
    PgParams params;
    QByteArrayList where;
    if (query.after) {
        params.add(query.after->first).add(query.after->second);
        where << "(s.started_at_ms, s.test_uid) < ($1, $2)";
    }
    if (query.benchIds.size() == 1) {
        // One bench: its index gives the page in order.
        params.add(query.benchIds.front());
        where << "s.bench_id = $" + QByteArray::number(params.size());
    } else if (!query.benchIds.empty()) {
        QStringList ids;
        for (const qint64 id : query.benchIds) ids << QString::number(id);
        params.add(u'{' + ids.join(u',') + u'}');
        where << "s.bench_id = ANY ($" + QByteArray::number(params.size()) + "::bigint[])";
    }
    const QString search = query.search.trimmed();
    if (!search.isEmpty()) {
        params.add(ContainsPattern(search));
        where << KIVO_TEST_SEARCH_TEXT " ILIKE $" + QByteArray::number(params.size());
    }
    if (!where.isEmpty()) sql += "WHERE " + where.join(" AND ") + '\n';
    // One more than the page: whether more follow.
    params.add(qint64{query.limit} + 1);
    sql += "ORDER BY s.started_at_ms DESC, s.test_uid DESC LIMIT $" +
           QByteArray::number(params.size());
    const PgResult r = db.exec(sql.constData(), params);
    SharedTexts shared(r, r.get());
    std::unordered_map<QString, QString> benchTexts;  // one copy of each text
    ServerTestList list;
    const int rows = std::min(r.rows(), query.limit);
    list.more = r.rows() > query.limit;
    list.tests.reserve(size_t(rows));
    list.benches.reserve(size_t(rows));
    std::vector<archive::StateChange> changes;
    for (int row = 0; row < rows; ++row) {
        archive::TestSummary t;
        t.uid = r.text(row, 0);
        t.testDate = shared.at(row, 1);
        t.startTime = shared.at(row, 2);
        t.tester = shared.at(row, 3);
        t.organisation = shared.at(row, 4);
        t.testMinutes = int32_t(r.integer(row, 5));
        t.recordInterval = int32_t(r.integer(row, 6));
        t.diameter = int32_t(r.integer(row, 7));
        t.startedAtMs = r.integer(row, 8);
        const qint64 off = r.integer(row, 9);
        for (int ch = 0; ch < archive::kChannels; ++ch) {
            t.channelOff[ch] = uint8_t((off >> ch) & 1);
            t.lastCharge[ch] = r.text(row, 15 + ch);
        }
        const QString bench = BenchText(shared.at(row, 10), shared.at(row, 11), shared.at(row, 12));
        list.benches.push_back(benchTexts.try_emplace(bench, bench).first->second);
        t.recordCount = int(r.integer(row, 13));
        changes.clear();
        const QString names = shared.at(row, 21);
        for (QStringView name : QStringView(names).split(u' ', Qt::SkipEmptyParts))
            changes.push_back({StateNamed(name), 0});
        ApplyStates(changes, &t.state, &t.closed);
        t.changedAtMs = std::max({t.startedAtMs, r.integer(row, 14), r.integer(row, 22)});
        t.id = query.firstId + row;
        list.tests.push_back(std::move(t));
    }
    if (query.benches) {
        // Benches that only sent audit events (their tests came from elsewhere) are left out.
        const PgResult b = db.exec(
            "SELECT id, host_name, port_name, port_device FROM benches b "
            "WHERE EXISTS (SELECT 1 FROM test_summaries s WHERE s.bench_id = b.id)");
        std::map<QString, std::vector<qint64>> byText;
        for (int row = 0; row < b.rows(); ++row)
            byText[BenchText(b.text(row, 1), b.text(row, 2), b.text(row, 3))].push_back(
                b.integer(row, 0));
        list.benchList.assign(byText.begin(), byText.end());
        QStringList ids;
        for (const qint64 id : query.benchIds) ids << QString::number(id);
        list.conflicts =
            db.exec(
                  "SELECT count(*) FROM conflicts c WHERE cardinality($1::bigint[]) = 0 OR "
                  "(c.table_name <> 'audit_events' AND EXISTS (SELECT 1 FROM tests t "
                  "WHERE t.uid = c.test_uid "
                  "AND t.bench_id = ANY ($1::bigint[]))) OR (c.table_name = 'audit_events' "
                  "AND EXISTS (SELECT 1 FROM audit_events e WHERE e.uid = c.row_key "
                  "AND e.bench_id = ANY ($1::bigint[])))",
                  PgParams().add(u'{' + ids.join(u',') + u'}'))
                .integer(0, 0);
    }
    return list;
}

std::optional<ServerTest> LoadServerTest(PgConnection& db, const QString& uid) {
    PgTransaction transaction(db);
    // One snapshot for every statement: the test as it was at one moment, though benches
    // go on sending.
    db.execScript("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY");
    PgParams key;
    key.add(uid);
    const PgResult h = db.exec(
        (QByteArray("SELECT ") + kTestColumns + " FROM tests WHERE uid = $1").constData(), key);
    if (h.rows() == 0) return std::nullopt;
    ServerTest loaded;
    archive::ArchivedTest& test = loaded.test;
    test.header = HeaderAt(h, 0);

    const PgResult records =
        db.exec((QByteArray("SELECT DISTINCT ON (number) ") + kRecordColumns +
                 " FROM records WHERE test_uid = $1 ORDER BY number, revision DESC")
                    .constData(),
                key);
    test.records.reserve(size_t(records.rows()));
    for (int row = 0; row < records.rows(); ++row) test.records.push_back(RecordAt(records, row));

    const PgResult states =
        db.exec("SELECT state, at_ms FROM state_changes WHERE test_uid = $1 ORDER BY ordinal", key);
    for (int row = 0; row < states.rows(); ++row)
        test.states.push_back({StateNamed(states.text(row, 0)), states.integer(row, 1)});
    ApplyStates(test.states, &test.state, &test.closed);

    const PgResult polls = db.exec(
        (QByteArray("SELECT ") + kPollColumns + " FROM polls WHERE test_uid = $1 ORDER BY seq")
            .constData(),
        key);
    loaded.polls.reserve(size_t(polls.rows()));
    for (int row = 0; row < polls.rows(); ++row) loaded.polls.push_back(PollAt(polls, row));
    transaction.commit();
    return loaded;
}

}  // namespace server
