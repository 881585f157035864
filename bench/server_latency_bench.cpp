// From a record handed to the archive (the moment the form shows it) to the record being on
// the lab server: a test runs with a record every 100 ms and its polls every 50 ms, the sender
// woken by each record's commit, a private server on 127.0.0.1. Goal: median < 0.5 s,
// p99 < 1 s.

#include <poll.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

#include "archive/archive_writer.h"
#include "bench_server.h"
#include "server/pg_connection.h"
#include "server/server_sender.h"
#include "support/pg_cluster.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRecords = 150;

archive::TestHeader Header() {
    archive::TestHeader h;
    h.uid = QStringLiteral("latency");
    h.testDate = QStringLiteral("2026-12-8");
    h.startTime = QStringLiteral("08:00:00");
    h.user = QStringLiteral("admin");
    h.portName = QStringLiteral("COM1");
    h.portDevice = QStringLiteral("/dev/ttyUSB0");
    h.voltage = QStringLiteral("60");
    h.programVersion = QStringLiteral("1.0.0");
    return h;
}

archive::RecordRow Record(int n) {
    archive::RecordRow r;
    r.number = n;
    r.minutes = n;
    r.temperature = QStringLiteral("23.5");
    for (int ch = 0; ch < archive::kChannels; ++ch) {
        r.current[ch] = QStringLiteral("41.25(mA)");
        r.charge[ch] = QStringLiteral("%1.5(C)").arg(n * 10 + ch);
    }
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    PgCluster cluster;
    const QString uri = StartBenchServer(cluster);
    if (uri.isEmpty()) return 1;
    QTemporaryDir dir;
    const QString path = dir.filePath("kivo.sqlite");

    server::ServerSender::Options options;
    options.settings = [uri] {
        server::ServerSettings s;
        s.uri = uri;
        return s;
    };
    server::ServerSender sender(path, {}, options);
    archive::ArchiveWriter::Options writerOptions;
    const auto wake = sender.waker();
    writerOptions.onRecordCommitted = [wake](const QString&, int) { wake(); };
    archive::ArchiveWriter writer(path, {}, writerOptions);
    writer.beginTest(Header());
    writer.flush(10000);
    // The tables exist once the sender has connected.
    const bool ready = [&] {
        for (int i = 0; i < 200; ++i) {
            if (sender.status().state == server::ServerSender::State::Synced) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }();
    if (!ready) {
        std::fprintf(stderr, "the sender did not connect: %s\n",
                     qPrintable(sender.status().text()));
        return 1;
    }

    // Each record's arrival, told by the server itself at its commit.
    server::PgConnection listener({cluster.uri("kivo"), {}, 10});
    listener.execScript(R"(
CREATE FUNCTION tell_record() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN PERFORM pg_notify('record', NEW.number::text); RETURN NULL; END $$;
CREATE TRIGGER tell_record AFTER INSERT ON records FOR EACH ROW EXECUTE FUNCTION tell_record();
LISTEN record;
)");
    std::mutex mutex;
    std::map<int, Clock::time_point> shown, arrived;
    std::atomic<bool> stop{false};
    std::thread listen([&] {
        while (!stop) {
            pollfd fd{PQsocket(listener.get()), POLLIN, 0};
            if (::poll(&fd, 1, 100) <= 0) continue;
            PQconsumeInput(listener.get());
            while (PGnotify* n = PQnotifies(listener.get())) {
                const auto now = Clock::now();
                std::lock_guard lock(mutex);
                arrived.emplace(std::atoi(n->extra), now);
                PQfreemem(n);
            }
        }
    });

    archive::PollRow poll;
    poll.voltage = QStringLiteral("60.0");
    poll.temperature = QStringLiteral("23.5");
    for (int n = 1; n <= kRecords; ++n) {
        {
            std::lock_guard lock(mutex);
            shown[n] = Clock::now();
        }
        writer.addRecord("latency", Record(n));
        for (int p = 0; p < 2; ++p) {
            writer.addPoll("latency", poll);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    for (int i = 0; i < 100; ++i) {
        {
            std::lock_guard lock(mutex);
            if (arrived.size() >= size_t(kRecords)) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    stop = true;
    listen.join();

    std::vector<double> ms;
    for (const auto& [n, at] : shown)
        if (auto it = arrived.find(n); it != arrived.end())
            ms.push_back(std::chrono::duration<double, std::milli>(it->second - at).count());
    std::sort(ms.begin(), ms.end());
    if (ms.size() != size_t(kRecords)) {
        std::fprintf(stderr, "only %zu of %d records arrived\n", ms.size(), kRecords);
        return 1;
    }
    const double median = ms[ms.size() / 2];
    const double p99 = ms[std::min(ms.size() - 1, size_t(ms.size() * 0.99))];
    std::printf("PostgreSQL %d on 127.0.0.1, %d records, polls every 50 ms\n\n",
                listener.serverVersion(), kRecords);
    std::printf("%-40s %9s %9s %7s\n", "", "ms", "limit ms", "ratio");
    std::printf("%-40s %9.1f %9.1f %7.2f\n", "record shown -> on the server, median", median, 500.0,
                median / 500.0);
    std::printf("%-40s %9.1f %9.1f %7.2f\n", "record shown -> on the server, p99", p99, 1000.0,
                p99 / 1000.0);
    return median < 500.0 && p99 < 1000.0 ? 0 : 1;
}
