#include "bench_load.h"

#include <QDateTime>
#include <QUuid>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "local_server.h"
#include "server/server_inserts.h"

namespace {

using Clock = std::chrono::steady_clock;

qint64 NowMs() { return QDateTime::currentMSecsSinceEpoch(); }

// What one bench did, merged when it is done.
struct BenchResult {
    long tests = 0, polls = 0, records = 0, failed = 0;
    std::vector<double> lagMs;
    QString error;
    bool connected = false;
};

archive::TestHeader NewHeader(int bench, const BenchLoadOptions& o) {
    const QDateTime now = QDateTime::currentDateTime();
    archive::TestHeader h;
    h.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    h.testDate = QStringLiteral("%1-%2-%3")
                     .arg(now.date().year())
                     .arg(now.date().month())
                     .arg(now.date().day());
    h.startTime = now.time().toString(QStringLiteral("HH:mm:ss"));
    h.startedAtMs = now.toMSecsSinceEpoch();
    h.user = QStringLiteral("admin");
    h.portName = QStringLiteral("COM1");
    h.portDevice = QStringLiteral("/dev/ttyUSB0");
    h.voltage = QStringLiteral("60");
    h.testMinutes = std::max(1, o.pollsPerTest * o.intervalMs / 60000);
    h.recordInterval = std::max(1, o.pollsPerRecord * o.intervalMs / 60000);
    h.diameter = 100;
    h.tester = QStringLiteral("模拟%1").arg(bench + 1);
    h.organisation = QStringLiteral("负载模拟");
    for (int slot = 0; slot < archive::kSpecimenSlots; ++slot)
        h.specimenNo[slot] = QStringLiteral("S%1").arg(slot + 1);
    h.programVersion = QStringLiteral("load");
    return h;
}

archive::PollRow MakePoll(int n, const BenchLoadOptions& o) {
    archive::PollRow p;
    p.atMs = NowMs();
    const double minutes = n * o.intervalMs / 60000.0;
    p.minutes = int(minutes);
    p.voltage = QStringLiteral("60.0");
    p.temperature = QStringLiteral("25.0");
    for (int ch = 0; ch < archive::kChannels; ++ch) {
        const double current = 80.0 + 10 * ch + minutes / 20.0;
        p.current[ch] = QString::asprintf("%.2f(mA)", current);
        p.charge[ch] = QString::asprintf("%.1f(C)", current * minutes * 0.06);
    }
    return p;
}

void RunBench(int bench, const BenchLoadOptions& o, Clock::time_point begin, Clock::time_point end,
              std::atomic<long>& testsBegun, const std::atomic<bool>* stop, BenchResult& out) {
    auto stopped = [&] { return (stop && stop->load()) || Clock::now() >= end; };
    try {
        server::PgConnection db({o.conninfo, {}, 5, QStringLiteral("kivo-bench-load")});
        out.connected = true;
        const qint64 benchId = server::InsertBench(
            db, {QStringLiteral("%1-%2").arg(o.hostPrefix).arg(bench + 1, 3, 10, QChar('0')),
                 QStringLiteral("COM1"), QStringLiteral("/dev/ttyUSB0"), QString(),
                 QStringLiteral("load")});
        // The benches' ticks spread over the interval, as benches started at random would.
        Clock::time_point next = begin + std::chrono::milliseconds(qint64(o.intervalMs) * bench /
                                                                   std::max(1, o.benches));
        while (!stopped() && testsBegun.fetch_add(1) < o.maxTests) {
            archive::TestHeader h = NewHeader(bench, o);
            {
                server::PgTransaction t(db);
                server::InsertTest(db, benchId, h);
                server::InsertStates(db, h.uid, 1, {{archive::TestState::Running, h.startedAtMs}});
                t.commit();
            }
            ++out.tests;
            int records = 0;
            for (int n = 1; n <= o.pollsPerTest && !stopped(); ++n) {
                std::this_thread::sleep_until(next);
                next += std::chrono::milliseconds(o.intervalMs);
                if (stopped()) break;
                const Clock::time_point taken = Clock::now();
                const archive::PollRow poll = MakePoll(n, o);
                try {
                    server::PgTransaction t(db);
                    server::InsertPolls(db, h.uid, n, {poll});
                    if (n % o.pollsPerRecord == 0) {
                        archive::RecordRow r;
                        r.number = ++records;
                        r.minutes = poll.minutes;
                        r.temperature = poll.temperature;
                        r.atMs = poll.atMs;
                        r.current = poll.current;
                        r.charge = poll.charge;
                        server::InsertRecords(db, h.uid, 1, {r});
                        ++out.records;
                    }
                    t.commit();
                    ++out.polls;
                    out.lagMs.push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - taken).count());
                } catch (const server::PgError& e) {
                    ++out.failed;
                    if (out.error.isEmpty()) out.error = e.message + u' ' + e.detail;
                    if (!db.ok()) return;
                }
            }
            const qint64 at = NowMs();
            server::InsertStates(db, h.uid, 2,
                                 {{archive::TestState::FinishedByMinutes, at},
                                  {archive::TestState::Closed, at + 1}});
        }
    } catch (const server::PgError& e) {
        if (out.error.isEmpty()) out.error = e.message + u' ' + e.detail;
    }
}

}  // namespace

double BenchLoadFigures::lagAt(double quantile) const {
    if (lagMs.empty()) return 0;
    const double rank = std::ceil(quantile * double(lagMs.size()));
    return lagMs[size_t(std::clamp(rank, 1.0, double(lagMs.size()))) - 1];
}

QString BenchLoadOptionsError(const BenchLoadOptions& o) {
    if (o.benches < 1 || o.benches > 150) return QStringLiteral("benches: 1 to 150");
    if (o.intervalMs < 100 || o.intervalMs > 60000)
        return QStringLiteral("interval: 100 ms to 60 s");
    if (o.seconds < 1 || o.seconds > 3600) return QStringLiteral("seconds: 1 to 3600");
    if (o.maxTests < 1) return QStringLiteral("tests: at least 1");
    if (o.pollsPerRecord < 1 || o.pollsPerTest < 1)
        return QStringLiteral("polls per record and per test: at least 1");
    return RefuseRemoteServer(o.conninfo);
}

BenchLoadFigures RunBenchLoad(const BenchLoadOptions& o, const std::atomic<bool>* stop) {
    BenchLoadFigures figures;
    if (const QString error = BenchLoadOptionsError(o); !error.isEmpty()) {
        figures.firstError = error;
        return figures;
    }
    std::vector<BenchResult> results(size_t(o.benches));
    std::atomic<long> testsBegun{0};
    const Clock::time_point begin = Clock::now() + std::chrono::milliseconds(200);
    const Clock::time_point end = begin + std::chrono::seconds(o.seconds);
    std::vector<std::thread> threads;
    threads.reserve(results.size());
    for (int b = 0; b < o.benches; ++b)
        threads.emplace_back(RunBench, b, std::cref(o), begin, end, std::ref(testsBegun), stop,
                             std::ref(results[size_t(b)]));
    for (std::thread& t : threads) t.join();
    figures.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    for (BenchResult& r : results) {
        figures.benches += r.connected ? 1 : 0;
        figures.tests += r.tests;
        figures.polls += r.polls;
        figures.records += r.records;
        figures.failedBatches += r.failed;
        figures.lagMs.insert(figures.lagMs.end(), r.lagMs.begin(), r.lagMs.end());
        if (figures.firstError.isEmpty()) figures.firstError = r.error;
    }
    std::sort(figures.lagMs.begin(), figures.lagMs.end());
    return figures;
}
