#include "server/server_reader.h"

#include <QList>
#include <algorithm>

#include "archive/test_states.h"
#include "server/server_rows.h"
#include "server/server_schema.h"

namespace server {
namespace {

// One row per test with what the list shows; the server keeps each test's summary (its
// record count, last record and state changes) as they arrive. The state is worked out here
// from the changes' names, as the local writer does it.
constexpr const char* kListSql = R"(
SELECT t.uid, t.test_date, t.start_time, t.tester, t.organisation, t.test_minutes,
  t.record_interval, t.diameter, t.started_at_ms,
  t.channel_off_1, t.channel_off_2, t.channel_off_3, t.channel_off_4, t.channel_off_5,
  t.channel_off_6,
  b.host_name, b.port_name, b.port_device,
  s.record_count, s.last_at_ms, s.last_charge_1, s.last_charge_2, s.last_charge_3,
  s.last_charge_4, s.last_charge_5, s.last_charge_6, s.state_names, s.state_at_ms
FROM tests t
JOIN benches b ON b.id = t.bench_id
LEFT JOIN test_summaries s ON s.test_uid = t.uid
ORDER BY t.started_at_ms DESC, t.uid DESC
)";

archive::TestState StateNamed(QStringView name) {
    return archive::StateFromName(name.toString()).value_or(archive::TestState::Interrupted);
}

}  // namespace

QString BenchName::text() const {
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

ServerTestList ListServerTests(PgConnection& db) {
    // An older database is brought up to date (the summaries), a newer one refused.
    PrepareServerSchema(db);
    // A plain read of every row: compiling it to machine code would cost more than it saves.
    db.execScript("SET jit = off");
    const PgResult r = db.exec(kListSql);
    ServerTestList list;
    const int rows = r.rows();
    list.tests.reserve(size_t(rows));
    list.benches.reserve(size_t(rows));
    std::vector<archive::StateChange> changes;
    for (int row = 0; row < rows; ++row) {
        archive::TestSummary t;
        t.id = row + 1;
        t.uid = r.text(row, 0);
        t.testDate = r.text(row, 1);
        t.startTime = r.text(row, 2);
        t.tester = r.text(row, 3);
        t.organisation = r.text(row, 4);
        t.testMinutes = int32_t(r.integer(row, 5));
        t.recordInterval = int32_t(r.integer(row, 6));
        t.diameter = int32_t(r.integer(row, 7));
        t.startedAtMs = r.integer(row, 8);
        for (int ch = 0; ch < archive::kChannels; ++ch) {
            t.channelOff[ch] = uint8_t(r.integer(row, 9 + ch));
            t.lastCharge[ch] = r.text(row, 20 + ch);
        }
        list.benches.push_back({r.text(row, 15), r.text(row, 16), r.text(row, 17)});
        t.recordCount = int(r.integer(row, 18));
        changes.clear();
        const QString names = r.text(row, 26);
        for (QStringView name : QStringView(names).split(u' ', Qt::SkipEmptyParts))
            changes.push_back({StateNamed(name), 0});
        ApplyStates(changes, &t.state, &t.closed);
        t.changedAtMs = std::max({t.startedAtMs, r.integer(row, 19), r.integer(row, 27)});
        list.tests.push_back(std::move(t));
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

    const PgResult states = db.exec(
        "SELECT state, at_ms FROM state_changes WHERE test_uid = $1 ORDER BY ordinal", key);
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
