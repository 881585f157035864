#pragma once

#include <QString>
#include <atomic>
#include <vector>

// Many benches streaming their tests into one lab server at once, each with a connection of
// its own and the program's idempotent INSERTs: every `intervalMs` a bench takes a poll and
// sends it at once (with a record every `pollsPerRecord` polls), in one transaction; after
// `pollsPerTest` polls its test ends (finished, closed) and the next begins. The lag of a
// poll is the time from its taking to its commit on the server.
struct BenchLoadOptions {
    QString conninfo;  // a server on this machine (RefuseRemoteServer)
    int benches = 50;
    int intervalMs = 2000;
    int pollsPerRecord = 15;
    int pollsPerTest = 60;
    int seconds = 30;       // bound on the run
    int maxTests = 100000;  // bound on the tests begun, over every bench
    QString hostPrefix = QStringLiteral("SIM-BENCH");
};

struct BenchLoadFigures {
    int benches = 0;  // connected
    long tests = 0, polls = 0, records = 0, failedBatches = 0;
    double seconds = 0;
    std::vector<double> lagMs;  // of every poll sent, sorted
    QString firstError;
    double lagAt(double quantile) const;  // 0 when nothing was sent
};

// The bounds checked (1..150 benches, 100 ms..60 s between polls, 1 s..1 h); the run blocks
// until every bench is done, or `stop` is set.
BenchLoadFigures RunBenchLoad(const BenchLoadOptions& options,
                              const std::atomic<bool>* stop = nullptr);

// The bounds broken, or empty.
QString BenchLoadOptionsError(const BenchLoadOptions& options);
