// The upgrade of an older lab server: 50 000 tests of 50 benches (13 records, three state
// changes and 60 polls each) at version 2, brought to this program's version in one
// transaction free of the session's limits, with a bench's own session limits set (a
// 30-second statement limit), as a bench that finds the older database does it. Prints how
// long it took; the upgrade must not fail, however long it takes.

#include <QCoreApplication>
#include <chrono>
#include <cstdio>

#include "server/pg_connection.h"
#include "server/server_schema.h"
#include "support/pg_cluster.h"

namespace {

using Clock = std::chrono::steady_clock;

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
INSERT INTO polls (test_uid, seq, at_ms, minutes, voltage, temperature,
    current_1, current_2, current_3, current_4, current_5, current_6,
    charge_1, charge_2, charge_3, charge_4, charge_5, charge_6)
  SELECT uid, n, started_at_ms + n * 2000, n / 30, '60.0', '25.0',
    '80.00(mA)', '90.00(mA)', '100.00(mA)', '110.00(mA)', '120.00(mA)', '130.00(mA)',
    (n * 1.5)::text || '(C)', (n * 1.6)::text || '(C)', (n * 1.7)::text || '(C)',
    (n * 1.8)::text || '(C)', (n * 1.9)::text || '(C)', (n * 2.0)::text || '(C)'
  FROM tests, generate_series(1, 60) n;
INSERT INTO state_changes (test_uid, ordinal, state, at_ms)
  SELECT uid, 1, 'running', started_at_ms FROM tests
  UNION ALL SELECT uid, 2, 'finished_minutes', started_at_ms + 21600000 FROM tests
  UNION ALL SELECT uid, 3, 'closed', started_at_ms + 21600001 FROM tests;
ANALYZE;
)";

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    PgCluster cluster;
    if (!cluster.valid() || !cluster.start() || !cluster.createRole("kivo", "pw") ||
        !cluster.createDatabase("kivo", "kivo")) {
        std::fprintf(stderr, "no server: %s\n", qPrintable(cluster.error()));
        return 1;
    }
    const QString uri =
        QStringLiteral("postgresql://kivo:pw@127.0.0.1:%1/kivo").arg(cluster.port());
    try {
        const auto made = Clock::now();
        {
            server::PgConnection db({uri, {}, 10});
            server::PrepareServerSchema(db, 2);
            db.execScript(kFill);
        }
        std::printf(
            "server at version 2: 50 000 tests, 13 records, 60 polls each (made in %.1f s)\n",
            Seconds(Clock::now() - made));
        server::PgConnection::Options o{uri, {}, 10};
        o.statementTimeoutMs = 30000;  // a bench's session
        server::PgConnection db(o);
        const auto start = Clock::now();
        const int found = server::PrepareServerSchema(db);
        std::printf("upgrade from version %d to %d: %.1f s\n", found, server::kServerSchemaVersion,
                    Seconds(Clock::now() - start));
    } catch (const server::PgError& e) {
        std::fprintf(stderr, "failed: %s %s\n", qPrintable(e.message), qPrintable(e.detail));
        return 1;
    }
    return 0;
}
