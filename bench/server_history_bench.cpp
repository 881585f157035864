// The history window's list of the lab server: 50 000 tests of 50 benches (13 records and
// three state changes each) in a private cluster; the time from switching the window to
// the server (the connection made and the first page of 500 read on the worker) to the model
// filled and shown, over several runs, the median and the slowest set against the limit of
// 200 ms; then the page after it (更多) and one bench's first page.
//
//   server_history_bench [runs]      (default 7)

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "event_loop.h"
#include "history/history_window.h"
#include "history/server_read.h"
#include "history/test_list_model.h"
#include "platform/program_folder.h"
#include "server/pg_connection.h"
#include "server/server_reader.h"
#include "server/server_schema.h"
#include "support/pg_cluster.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTests = 50000;
constexpr double kLimitMs = 200.0;
constexpr int kPage = 500;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The tests made by the server itself: six-hour tests two hours apart, 50 benches in turn.
constexpr const char* kFill = R"(
INSERT INTO benches (host_name, port_name, port_device, usb_serial, program_version)
  SELECT 'LAB-PC-' || b, 'COM1', '/dev/ttyUSB0', '', '1.0' FROM generate_series(1, 50) b;
INSERT INTO tests SELECT
  '00000000-0000-4000-8000-' || lpad(i::text, 12, '0'),
  (SELECT id FROM benches ORDER BY id OFFSET i % 50 LIMIT 1),
  to_char(d, 'YYYY-FMMM-FMDD'), to_char(d, 'HH24:MI:SS'),
  (extract(epoch FROM d) * 1000)::bigint, 'admin', 0, 'COM1', '/dev/ttyUSB0', '60', 360, 30,
  100, '测试人员' || (i % 37), '市建设工程质量检测中心' || (i % 11),
  'S1', 'S2', 'S3', 'S4', 'S5', 'S6', 'S7', 'S8', 'S9', 0, 0, 0, 0, 0, i % 2, '1.0', now()
  FROM generate_series(1, 50000) i,
       LATERAL (SELECT timestamp '2026-12-08 08:00' - i * interval '2 hours' AS d) t;
INSERT INTO records (test_uid, number, revision, minutes, temperature, at_ms,
    current_1, current_2, current_3, current_4, current_5, current_6,
    charge_1, charge_2, charge_3, charge_4, charge_5, charge_6)
  SELECT uid, n, 1, n * 30, '25.0', started_at_ms + n * 1800000,
    '80.00(mA)', '90.00(mA)', '100.00(mA)', '110.00(mA)', '120.00(mA)', '130.00(mA)',
    (n * 144.0)::text || '(C)', (n * 162.0)::text || '(C)', (n * 180.0)::text || '(C)',
    (n * 198.0)::text || '(C)', (n * 216.0)::text || '(C)', (n * 234.0)::text || '(C)'
  FROM tests, generate_series(0, 12) n;
INSERT INTO state_changes (test_uid, ordinal, state, at_ms)
  SELECT uid, 1, 'running', started_at_ms FROM tests
  UNION ALL SELECT uid, 2, 'finished_minutes', started_at_ms + 21600000 FROM tests
  UNION ALL SELECT uid, 3, 'closed', started_at_ms + 21600001 FROM tests;
ANALYZE;
)";

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    QApplication app(argc, argv);
    QTemporaryDir folder;
    ProgramFolder::setForTests(folder.path());

    PgCluster cluster;
    if (!cluster.valid() || !cluster.start() || !cluster.createDatabase(QStringLiteral("kivo"))) {
        std::fprintf(stderr, "cluster: %s\n", qPrintable(cluster.error()));
        return 1;
    }
    const auto made = Clock::now();
    try {
        server::PgConnection db({cluster.uri(QStringLiteral("kivo")), {}});
        server::PrepareServerSchema(db);
        db.execScript(kFill);
    } catch (const server::PgError& e) {
        std::fprintf(stderr, "fill: %s\n", qPrintable(e.detail));
        return 1;
    }
    std::printf("server: %d tests of 50 benches, 13 records each (made in %.1f s)\n\n", kTests,
                Ms(Clock::now() - made) / 1000);
    qputenv("KIVO_SERVER", cluster.uri(QStringLiteral("kivo")).toUtf8());

    // The parts: the query with the rows read into summaries, and the model filled.
    std::vector<double> query, model, deep, bench;
    {
        server::PgConnection db({cluster.uri(QStringLiteral("kivo")), {}});
        for (int run = 0; run < runs; ++run) {
            auto start = Clock::now();
            server::ServerTestList list = server::ListServerTests(db);
            query.push_back(Ms(Clock::now() - start));
            // A page deep in the list, and one bench's first page.
            server::ServerListQuery later;
            later.after = std::pair{list.tests.back().startedAtMs, list.tests.back().uid};
            for (int page = 0; page < 40; ++page) {
                server::ServerTestList next = server::ListServerTests(db, later);
                later.after = std::pair{next.tests.back().startedAtMs, next.tests.back().uid};
            }
            start = Clock::now();
            server::ListServerTests(db, later);
            deep.push_back(Ms(Clock::now() - start));
            server::ServerListQuery benches;
            benches.benches = true;
            server::ServerListQuery one;
            one.benchIds = server::ListServerTests(db, benches).benchList.at(7).second;
            start = Clock::now();
            server::ListServerTests(db, one);
            bench.push_back(Ms(Clock::now() - start));
            TestListModel m;
            start = Clock::now();
            m.setTests(std::move(list.tests), std::move(list.benches));
            model.push_back(Ms(Clock::now() - start));
        }
    }

    HistoryWindow window(nullptr, QString(), HistoryWindow::Host{});
    window.show();
    runFor(100);
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        window.setSource(HistoryWindow::Source::Archive);
        runFor(20);
        const auto start = Clock::now();
        window.setSource(HistoryWindow::Source::Server);
        if (!runUntil([&] { return !window.serverRead()->busy(); }, 60000, 1)) return 1;
        QApplication::processEvents();  // laid out and painted
        times.push_back(Ms(Clock::now() - start));
        if (window.model()->rowCount() != kPage) {
            std::fprintf(stderr, "the list shows %d tests: %s\n", window.model()->rowCount(),
                         qPrintable(window.statusText()));
            return 1;
        }
    }
    auto print = [](const char* what, std::vector<double> ms, double limit) {
        const double first = ms.front();
        std::sort(ms.begin(), ms.end());
        std::printf("%-40s %9.1f %9.1f %9.1f", what, first, ms[ms.size() / 2], ms.back());
        if (limit > 0) std::printf(" %9.1f %7.2f", limit, ms.back() / limit);
        std::printf("\n");
    };
    std::printf("%-40s %9s %9s %9s %9s %7s\n", "ms", "first", "median", "slowest", "limit",
                "ratio");
    print("  query, rows read", query, 0);
    print("  model filled", model, 0);
    print("  page 42 (after 41 x 更多), query", deep, 0);
    print("  one bench's first page, query", bench, 0);
    print("first page of 50 000 server tests shown", times, kLimitMs);
    ProgramFolder::setForTests(QString());
    return 0;
}
