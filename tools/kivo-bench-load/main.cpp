// kivo-bench-load: many benches' tests streamed into one lab server on this machine, for
// load measurements. Bounded in time and in tests; refuses any server but 127.0.0.1, ::1,
// localhost or a unix socket folder. Prints the lag from a poll's taking to its commit.
//
//   kivo-bench-load --server postgresql://kivo@127.0.0.1:5432/kivo [--benches 50]
//                   [--interval-ms 2000] [--seconds 30] [--max-tests N]
//                   [--polls-per-record 15] [--polls-per-test 60]
// The password, if the role needs one, comes from PGPASSWORD or ~/.pgpass.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#include "bench_load.h"
#include "server/server_schema.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Streams simulated benches' tests into a lab server on this machine."));
    parser.addHelpOption();
    BenchLoadOptions o;
    const QCommandLineOption serverOption(
        QStringLiteral("server"), QStringLiteral("libpq URI or conninfo (default: KIVO_SERVER)"),
        QStringLiteral("uri"));
    auto number = [](const char* name, const char* what, int value) {
        return QCommandLineOption(
            QString::fromLatin1(name),
            QStringLiteral("%1 (default %2)").arg(QLatin1String(what)).arg(value),
            QStringLiteral("n"), QString::number(value));
    };
    const QCommandLineOption benches = number("benches", "simulated benches", o.benches);
    const QCommandLineOption interval =
        number("interval-ms", "milliseconds between a bench's polls", o.intervalMs);
    const QCommandLineOption seconds = number("seconds", "length of the run", o.seconds);
    const QCommandLineOption maxTests = number("max-tests", "tests begun at most", o.maxTests);
    const QCommandLineOption perRecord =
        number("polls-per-record", "polls between records", o.pollsPerRecord);
    const QCommandLineOption perTest = number("polls-per-test", "polls of a test", o.pollsPerTest);
    parser.addOptions({serverOption, benches, interval, seconds, maxTests, perRecord, perTest});
    parser.process(app);

    o.conninfo = parser.isSet(serverOption) ? parser.value(serverOption)
                                            : qEnvironmentVariable("KIVO_SERVER");
    o.benches = parser.value(benches).toInt();
    o.intervalMs = parser.value(interval).toInt();
    o.seconds = parser.value(seconds).toInt();
    o.maxTests = parser.value(maxTests).toInt();
    o.pollsPerRecord = parser.value(perRecord).toInt();
    o.pollsPerTest = parser.value(perTest).toInt();
    if (o.conninfo.isEmpty()) {
        std::fprintf(stderr, "kivo-bench-load: no server (--server or KIVO_SERVER)\n");
        return 2;
    }
    if (const QString error = BenchLoadOptionsError(o); !error.isEmpty()) {
        std::fprintf(stderr, "kivo-bench-load: %s\n", qPrintable(error));
        return 2;
    }
    try {
        server::PgConnection db({o.conninfo, {}});
        server::PrepareServerSchema(db);
    } catch (const server::PgError& e) {
        std::fprintf(stderr, "kivo-bench-load: %s (%s)\n", qPrintable(e.message),
                     qPrintable(e.detail));
        return 1;
    }

    std::printf("%d benches, a poll every %d ms each, for %d s\n", o.benches, o.intervalMs,
                o.seconds);
    const BenchLoadFigures f = RunBenchLoad(o);
    std::printf(
        "benches connected %d, tests %ld, polls %ld, records %ld, failed batches %ld "
        "in %.1f s (%.1f polls/s)\n",
        f.benches, f.tests, f.polls, f.records, f.failedBatches, f.seconds,
        f.seconds > 0 ? double(f.polls) / f.seconds : 0.0);
    std::printf("lag from a poll taken to on the server, ms: median %.1f  p99 %.1f  max %.1f\n",
                f.lagAt(0.5), f.lagAt(0.99), f.lagAt(1.0));
    if (!f.firstError.isEmpty()) std::printf("first error: %s\n", qPrintable(f.firstError));
    return f.failedBatches == 0 && f.benches == o.benches ? 0 : 1;
}
