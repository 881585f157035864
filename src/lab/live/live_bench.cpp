#include "lab/live/live_bench.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <map>

#include "server/server_reader.h"
#include "server/server_rows.h"

namespace lab {
namespace {

// Per bench its newest test (on the index of each bench's tests) and that test's newest poll
// (on the polls' key): a few index lookups per bench, however many tests the server holds.
// The silence is measured by the server's clock against the poll's receipt, so a clock of
// this service that differs from the database's does not change it.
QByteArray PollColumnsOfP() {
    QByteArray columns;
    for (const QByteArray& c : QByteArray(server::kPollColumns).split(','))
        columns += (columns.isEmpty() ? "p." : ", p.") + c.trimmed();
    return columns;
}

const QByteArray kLiveSql = QByteArray(R"(
SELECT b.host_name, b.port_name, b.port_device, s.test_uid, s.tester, s.organisation,
  s.started_at_ms, s.test_minutes, s.channels_off, s.state_names, coalesce(p.seq, 0),
  (extract(epoch FROM clock_timestamp() - coalesce(p.received_at, t.received_at))
     * 1000)::bigint,
  )") + PollColumnsOfP() + R"(
FROM benches b
CROSS JOIN LATERAL (
  SELECT * FROM test_summaries s WHERE s.bench_id = b.id
  ORDER BY s.started_at_ms DESC, s.test_uid DESC LIMIT 1) s
JOIN tests t ON t.uid = s.test_uid
LEFT JOIN LATERAL (
  SELECT * FROM polls p WHERE p.test_uid = s.test_uid ORDER BY p.seq DESC LIMIT 1) p ON true
ORDER BY b.id
LIMIT $1)";

constexpr int kFirstPollColumn = 12;

}  // namespace

std::vector<LiveBench> ReadLiveBenches(server::PgConnection& db) {
    const server::PgResult r =
        db.exec(kLiveSql.constData(), server::PgParams().add(qint64{kMaxLiveBenches}));
    std::map<QString, LiveBench> byName;
    for (int row = 0; row < r.rows(); ++row) {
        LiveBench b;
        b.bench = server::BenchText(r.text(row, 0), r.text(row, 1), r.text(row, 2));
        b.testUid = r.text(row, 3);
        b.tester = r.text(row, 4);
        b.organisation = r.text(row, 5);
        b.startedAtMs = r.integer(row, 6);
        b.testMinutes = int(r.integer(row, 7));
        const qint64 off = r.integer(row, 8);
        for (int ch = 0; ch < archive::kChannels; ++ch) b.inUse[ch] = ((off >> ch) & 1) == 0;
        std::vector<archive::StateChange> changes;
        for (const QString& name : r.text(row, 9).split(u' ', Qt::SkipEmptyParts))
            changes.push_back(
                {archive::StateFromName(name).value_or(archive::TestState::Interrupted), 0});
        server::ApplyStates(changes, &b.state, &b.closed);
        b.pollSeq = r.integer(row, 10);
        b.silentMs = std::max<qint64>(0, r.integer(row, 11));
        if (!r.isNull(row, kFirstPollColumn)) {
            const archive::PollRow poll = server::PollAt(r, row, kFirstPollColumn);
            b.minute = poll.minutes;
            b.temperature = poll.temperature;
            b.current = poll.current;
            b.charge = poll.charge;
        }
        auto [at, added] = byName.try_emplace(b.bench, b);
        if (!added && std::pair(b.startedAtMs, b.testUid) >
                          std::pair(at->second.startedAtMs, at->second.testUid))
            at->second = b;
    }
    std::vector<LiveBench> benches;
    benches.reserve(byName.size());
    for (auto& [name, bench] : byName) benches.push_back(std::move(bench));
    return benches;
}

QString WithoutUnit(const QString& reading) {
    const qsizetype unit = reading.indexOf(u'(');
    return unit > 0 ? reading.left(unit).trimmed() : reading;
}

std::string BenchesJson(const std::vector<LiveBench>& benches) {
    QJsonArray list;
    for (const LiveBench& b : benches) {
        QJsonObject o;
        o[QStringLiteral("bench")] = b.bench;
        o[QStringLiteral("testUid")] = b.testUid;
        o[QStringLiteral("tester")] = b.tester;
        o[QStringLiteral("organisation")] = b.organisation;
        o[QStringLiteral("state")] = archive::StateText(b.state);
        // Only a running bench polls every two seconds: only its silence means a lost bench.
        o[QStringLiteral("running")] = b.state == archive::TestState::Running && !b.closed;
        o[QStringLiteral("minute")] = b.minute ? QJsonValue(*b.minute) : QJsonValue();
        o[QStringLiteral("testMinutes")] = b.testMinutes;
        o[QStringLiteral("temperature")] = b.temperature;
        o[QStringLiteral("lastHeardMs")] = double(b.lastHeardMs);
        QJsonArray channels;
        for (int ch = 0; ch < archive::kChannels; ++ch) {
            QJsonObject c;
            c[QStringLiteral("inUse")] = b.inUse[ch];
            c[QStringLiteral("current")] = WithoutUnit(b.current[ch]);
            c[QStringLiteral("charge")] = WithoutUnit(b.charge[ch]);
            channels.append(c);
        }
        o[QStringLiteral("channels")] = channels;
        list.append(o);
    }
    return QJsonDocument(list).toJson(QJsonDocument::Compact).toStdString();
}

}  // namespace lab
