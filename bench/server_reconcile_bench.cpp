// The sender's check of what the server holds: 5 000 settled tests (20 records, 60 polls and
// three state changes each) compared with the server's own account of them, as after every
// connect. Timed three times: the very first check (every row of the archive read and hashed,
// the accounts kept in the archive: once, after the upgrade), the first check after a start
// (the kept accounts read back) and a later one. Goal: < 2 s.

#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>

#include "archive/archive_open.h"
#include "archive/archive_reader.h"
#include "archive/test_writes.h"
#include "bench_server.h"
#include "server/archive_outbox.h"
#include "server/pg_connection.h"
#include "server/server_inserts.h"
#include "server/server_reconcile.h"
#include "server/server_schema.h"
#include "server/test_account.h"
#include "support/pg_cluster.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kTests = 5000;
constexpr int kRecords = 20;
constexpr int kPolls = 60;

archive::TestHeader Header(int n) {
    archive::TestHeader h;
    h.uid = QStringLiteral("test-%1").arg(n, 5, 10, QChar('0'));
    h.testDate = QStringLiteral("2026-12-8");
    h.startTime = QStringLiteral("08:00:00");
    h.startedAtMs = 1'796'000'000'000 + qint64(n) * 86'400'000;
    h.user = QStringLiteral("admin");
    h.portName = QStringLiteral("COM1");
    h.portDevice = QStringLiteral("/dev/ttyUSB0");
    h.voltage = QStringLiteral("60");
    h.tester = QStringLiteral("张工");
    h.organisation = QStringLiteral("检测中心");
    h.programVersion = QStringLiteral("1.0.0");
    return h;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    PgCluster cluster;
    const QString uri = StartBenchServer(cluster);
    if (uri.isEmpty()) return 1;
    server::PgConnection pg({uri, {}, 10});
    server::PrepareServerSchema(pg);
    const qint64 bench = server::InsertBench(pg, {"LAB-PC-1", "COM1", "/dev/ttyUSB0", "", "1.0"});

    QTemporaryDir dir;
    const QString path = dir.filePath("kivo.sqlite");
    archive::OpenedArchive opened = archive::OpenArchive(path);
    opened.db->exec("PRAGMA synchronous = OFF");  // the setting up only, not what is timed
    {
        archive::TestWrites writes(*opened.db);
        for (int n = 1; n <= kTests; ++n) {
            const archive::TestHeader h = Header(n);
            writes.beginTest(h);
            writes.changeState(h.uid, archive::TestState::Running, h.startedAtMs);
            std::vector<archive::PollRow> polls(kPolls);
            std::vector<std::pair<QString, const archive::PollRow*>> batch;
            for (int i = 0; i < kPolls; ++i) {
                polls[i].atMs = h.startedAtMs + qint64(i) * 2000;
                polls[i].minutes = i / 30;
                polls[i].voltage = QStringLiteral("60.0");
                polls[i].temperature = QStringLiteral("23.5");
                for (int ch = 0; ch < archive::kChannels; ++ch) {
                    polls[i].current[ch] = QStringLiteral("41.%1(mA)").arg(i % 100);
                    polls[i].charge[ch] = QStringLiteral("%1.5(C)").arg(i + ch);
                }
                batch.emplace_back(h.uid, &polls[i]);
            }
            writes.addPolls(batch);
            for (int r = 1; r <= kRecords; ++r) {
                archive::RecordRow row;
                row.number = r;
                row.minutes = r * 5;
                row.atMs = h.startedAtMs + r * 300000;
                for (int ch = 0; ch < archive::kChannels; ++ch)
                    row.charge[ch] = QStringLiteral("%1.0(C)").arg(r * 10 + ch);
                writes.addRecord(h.uid, row);
            }
            writes.changeState(h.uid, archive::TestState::FinishedByMinutes, h.startedAtMs + 1);
            writes.changeState(h.uid, archive::TestState::Closed, h.startedAtMs + 2);
        }
    }
    // The server holds them all, and the archive's marks say so.
    {
        auto reader = archive::ArchiveReader::open(path, nullptr);
        for (const archive::TestSummary& s : reader->listTests())
            server::InsertWholeTest(pg, bench, *reader->loadTest(s.id), reader->polls(s.id));
    }
    opened.db->exec(
        "UPDATE test SET sent_header = 1, sent_states = 3, sent_polls = 60, sent_settled = 1;"
        "UPDATE record SET sent = 1;");

    // Once, as after the upgrade: every account read from the rows and kept in the archive.
    // Then as after a start (a fresh connection and reconciler: the kept accounts read back)
    // and a later check of the same run.
    std::printf("%-52s %9s %9s %7s\n", "", "s", "limit s", "ratio");
    bool ok = true;
    auto check = [&](const char* what, server::Reconciler& reconciler, archive::Connection& db,
                     bool timed) {
        server::ArchiveOutbox outbox(db);
        const auto start = Clock::now();
        const server::Reconciler::Result result =
            reconciler.run(outbox, db, pg, QStringLiteral("bench-1"));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("%-52s %9.3f %9.1f %7.2f%s\n", what, seconds, 2.0, seconds / 2.0,
                    timed ? "" : "  (once, not a goal)");
        std::printf("  (%d tests checked, %d to send again)\n", result.checked, result.reopened);
        ok = ok && (!timed || seconds < 2.0) && result.checked == kTests && result.reopened == 0;
    };
    {
        server::Reconciler once;
        check("reconciliation of 5 000 settled tests, first ever", once, *opened.db, false);
    }
    {
        auto db = std::make_unique<archive::Connection>(path, SQLITE_OPEN_READWRITE);
        archive::ConfigureConnection(*db, archive::kBusyTimeoutMs);
        server::Reconciler reconciler;
        check("reconciliation of 5 000 settled tests, after a start", reconciler, *db, true);
        check("reconciliation of 5 000 settled tests, later", reconciler, *db, true);
    }
    // Where the time goes: the server's accounts alone, the archive's alone.
    {
        QStringList uids;
        for (int n = 1; n <= kTests; ++n) uids << Header(n).uid;
        auto start = Clock::now();
        for (qsizetype first = 0; first < uids.size(); first += 500)
            server::ServerAccounts(pg, uids.mid(first, 500));
        const double onServer = std::chrono::duration<double>(Clock::now() - start).count();
        start = Clock::now();
        for (qint64 id = 1; id <= kTests; ++id) {
            server::PollTally tally;
            server::LocalAccount(*opened.db, id, tally);
        }
        const double local = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("  (of which the server's accounts %.3f s, the archive's %.3f s)\n", onServer,
                    local);
    }
    return ok ? 0 : 1;
}
