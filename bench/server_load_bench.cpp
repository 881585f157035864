// The lab server under load: 50 benches, each taking a poll every 2 seconds and sending it
// at once (a record every 30 s, a new test every 2 minutes), into one server on this
// machine, for a minute. The server keeps up when every batch is stored and the lag from a
// poll's taking to its commit stays low: p99 against the limit of 2 s.
//
//   server_load_bench [seconds]      (default 60)

#include <QCoreApplication>
#include <cstdio>

#include "bench_load.h"
#include "server/pg_connection.h"
#include "server/server_schema.h"
#include "support/pg_cluster.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    constexpr double kLimitMs = 2000.0;
    BenchLoadOptions o;
    o.benches = 50;
    o.intervalMs = 2000;
    o.seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;

    PgCluster cluster;
    if (!cluster.valid() || !cluster.start() || !cluster.createDatabase(QStringLiteral("kivo"))) {
        std::fprintf(stderr, "cluster: %s\n", qPrintable(cluster.error()));
        return 1;
    }
    o.conninfo = cluster.uri(QStringLiteral("kivo"));
    try {
        server::PgConnection db({o.conninfo, {}});
        server::PrepareServerSchema(db);
    } catch (const server::PgError& e) {
        std::fprintf(stderr, "schema: %s\n", qPrintable(e.detail));
        return 1;
    }

    const BenchLoadFigures f = RunBenchLoad(o);
    std::printf(
        "%d benches, a poll every %d ms each, %.1f s: %ld tests, %ld polls, %ld records, "
        "%ld failed batches%s%s\n\n",
        f.benches, o.intervalMs, f.seconds, f.tests, f.polls, f.records, f.failedBatches,
        f.firstError.isEmpty() ? "" : ", first error: ", qPrintable(f.firstError));
    const long expected = long(o.benches) * long(o.seconds * 1000 / o.intervalMs);
    std::printf("%-40s %9s %9s %9s %9s %7s\n", "ms", "median", "p99", "max", "limit", "ratio");
    std::printf("%-40s %9.2f %9.2f %9.2f %9.1f %7.4f\n", "lag, poll taken to on the server",
                f.lagAt(0.5), f.lagAt(0.99), f.lagAt(1.0), kLimitMs, f.lagAt(0.99) / kLimitMs);
    std::printf("polls stored %ld of %ld due (%.1f %%)\n", f.polls, expected,
                expected > 0 ? 100.0 * double(f.polls) / double(expected) : 0.0);
    const bool kept = f.benches == o.benches && f.failedBatches == 0 &&
                      f.polls >= expected * 98 / 100 && f.lagAt(0.99) < kLimitMs;
    std::printf("%s\n", kept ? "the server keeps up" : "the server does NOT keep up");
    return kept ? 0 : 1;
}
