// The lab's web service on a lab database of 50 000 tests (50 benches, 13 records each) and one
// six-hour test with every poll (10 800): the service in this process on 127.0.0.1, asked
// over HTTP as a browser asks it. The figures: the first page of 实验 (newest first, and
// filtered by a tester and by a specimen number) against the limit of 200 ms, and 报告核验 of
// the six-hour test's report against 50 ms; each the median and the slowest of the runs, the
// ratio the slowest over the limit.
//
//   lab_web_bench [runs]      (default 30)

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "bench_server.h"
#include "lab/html.h"
#include "lab/lab_reads.h"
#include "lab/lab_service.h"
#include "lab/web_setup.h"
#include "lab/web_users.h"
#include "report/report_content.h"
#include "server/server_reader.h"
#include "server/server_schema.h"
#include "server/test_account.h"
#include "server/verification_code.h"

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

constexpr const char* kFill = R"(
INSERT INTO benches (host_name, port_name, port_device, usb_serial, program_version)
  SELECT 'LAB-PC-' || b, 'COM1', '/dev/ttyUSB0', '', '1.0' FROM generate_series(1, 50) b;
INSERT INTO tests SELECT
  substr(md5(i::text), 1, 8) || '-0000-4000-8000-' || lpad(i::text, 12, '0'),
  (SELECT id FROM benches ORDER BY id OFFSET i % 50 LIMIT 1),
  to_char(d, 'YYYY-FMMM-FMDD'), to_char(d, 'HH24:MI:SS'),
  (extract(epoch FROM d) * 1000)::bigint, 'admin', 0, 'COM1', '/dev/ttyUSB0', '60', 360, 30,
  100, '测试人员' || (i % 37), '市建设工程质量检测中心' || (i % 11),
  'S1-' || i, 'S2-' || i, 'S3-' || i, 'S4', 'S5', 'S6', 'S7', 'S8', 'S9', 0, 0, 0, 0, 0, 0,
  '1.0', now()
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
INSERT INTO polls (test_uid, seq, at_ms, minutes, voltage, temperature,
    current_1, current_2, current_3, current_4, current_5, current_6,
    charge_1, charge_2, charge_3, charge_4, charge_5, charge_6)
  SELECT t.uid, n, t.started_at_ms + n * 2000, n / 30, '60.0', '25.0',
    '80.00(mA)', '90.00(mA)', '100.00(mA)', '110.00(mA)', '120.00(mA)', '130.00(mA)',
    (n * 0.16)::text || '(C)', (n * 0.18)::text || '(C)', (n * 0.2)::text || '(C)',
    (n * 0.22)::text || '(C)', (n * 0.24)::text || '(C)', (n * 0.26)::text || '(C)'
  FROM tests t, generate_series(1, 10800) n WHERE t.uid LIKE '%-000000000007';
ANALYZE benches, tests, records, state_changes, polls, test_summaries, test_accounts;
)";

struct Figures {
    const char* what;
    double limit;
    std::vector<double> ms;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    QApplication app(argc, argv);
    lab::InitCrypto();
    PgCluster cluster;
    const QString owner = StartBenchServer(cluster);
    if (owner.isEmpty() || !cluster.createRole(QStringLiteral("kivo_web"), QStringLiteral("webpw")))
        return 1;
    QString uid;
    QString number, code;
    const auto made = Clock::now();
    try {
        server::PgConnection db({owner, {}});
        server::PrepareServerSchema(db);
        db.execScript(kFill);
        lab::SetUpWebService(db);
        uid = db.exec("SELECT uid FROM tests WHERE uid LIKE '%-000000000007'").text(0, 0);
        lab::StoreWebUser(db, QStringLiteral("bench"),
                          lab::HashPassword(QStringLiteral("bench-pw-1")));
        const auto test = server::LoadServerTest(db, uid);
        number = ReportNumber(test->test);
        code = server::VerificationCode(number, server::ServerAccounts(db, {uid})[uid]);
    } catch (const server::PgError& e) {
        std::fprintf(stderr, "fill: %s %s\n", qPrintable(e.message), qPrintable(e.detail));
        return 1;
    }
    std::printf("server: 50 000 tests of 50 benches, one with 10 800 polls (made in %.1f s)\n\n",
                Ms(Clock::now() - made) / 1000);

    lab::LabConfig config;
    config.port = cluster.port();
    config.dbname = QStringLiteral("kivo");
    config.verifyPerMinute = 100000;
    lab::LabService service(config, lab::DatabaseOptions(config, QStringLiteral("webpw")),
                            [](const ReportContent&) { return QByteArray(); });
    httplib::Server http;
    service.install(http);
    const int port = http.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { http.listen_after_bind(); });
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(60, 0);
    const httplib::Result signedIn =
        client.Post("/login", httplib::Params{{"name", "bench"}, {"password", "bench-pw-1"}});
    if (!signedIn || signedIn->status != 303) {
        std::fprintf(stderr, "login failed\n");
        http.stop();
        serving.join();
        return 1;
    }
    const std::string cookie = signedIn->get_header_value("Set-Cookie");
    const httplib::Headers session{{"Cookie", cookie.substr(0, cookie.find(';'))}};

    const std::string verify =
        ("/verify?n=" + lab::UrlPart(number).toStdString() + "&c=" + code.toStdString());
    std::vector<Figures> figures{
        {"实验 first page of 50 000 (50 tests)", 200, {}},
        {"实验 first page, tester filter", 200, {}},
        {"实验 first page, specimen filter", 200, {}},
        {"报告核验 of a six-hour test", 50, {}},
    };
    const std::string paths[] = {"/tests", "/tests?tester=%E6%B5%8B%E8%AF%95%E4%BA%BA%E5%91%983",
                                 "/tests?specimen=S2-4711", verify};
    const char* expected[] = {"更早的实验", "更早的实验", "S2-4711", "真实有效"};
    for (int run = 0; run < runs + 1; ++run) {
        for (size_t i = 0; i < figures.size(); ++i) {
            const auto start = Clock::now();
            const httplib::Result r = client.Get(paths[i].c_str(), session);
            const double ms = Ms(Clock::now() - start);
            if (!r || r->status != 200 ||
                (i != 2 && r->body.find(expected[i]) == std::string::npos)) {
                std::fprintf(stderr, "%s: unexpected answer %d\n", paths[i].c_str(),
                             r ? r->status : -1);
                http.stop();
                serving.join();
                return 1;
            }
            if (run > 0) figures[i].ms.push_back(ms);  // the first run warms the connections
        }
    }
    http.stop();
    serving.join();
    std::printf("%-42s %9s %9s %9s %7s\n", "ms (request to answer, HTTP on loopback)", "median",
                "slowest", "limit", "ratio");
    for (Figures& f : figures) {
        std::sort(f.ms.begin(), f.ms.end());
        std::printf("%-42s %9.1f %9.1f %9.1f %7.2f\n", f.what, f.ms[f.ms.size() / 2], f.ms.back(),
                    f.limit, f.ms.back() / f.limit);
    }
    return 0;
}
