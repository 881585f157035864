// A six-hour test (10 800 polls, 72 records, its state changes) kept while the lab server was
// down, sent once the server is back: from the sender's first look to 已同步. Goal: < 10 s.

#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "archive/archive_open.h"
#include "archive/test_writes.h"
#include "bench_server.h"
#include "server/pg_connection.h"
#include "server/server_sender.h"
#include "support/pg_cluster.h"

using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    PgCluster cluster;
    const QString uri = StartBenchServer(cluster);
    if (uri.isEmpty()) return 1;
    QTemporaryDir dir;
    const QString path = dir.filePath("kivo.sqlite");
    {
        archive::OpenedArchive opened = archive::OpenArchive(path);
        archive::TestWrites writes(*opened.db);
        archive::TestHeader h;
        h.uid = QStringLiteral("six-hours");
        h.testDate = QStringLiteral("2026-12-8");
        h.startTime = QStringLiteral("08:00:00");
        h.user = QStringLiteral("admin");
        h.portName = QStringLiteral("COM1");
        h.portDevice = QStringLiteral("/dev/ttyUSB0");
        h.programVersion = QStringLiteral("1.0.0");
        writes.beginTest(h);
        writes.changeState(h.uid, archive::TestState::Running, 1);
        std::vector<archive::PollRow> polls(10800);
        std::vector<std::pair<QString, const archive::PollRow*>> batch;
        for (size_t i = 0; i < polls.size(); ++i) {
            polls[i].atMs = qint64(i) * 2000;
            polls[i].minutes = int(i / 30);
            polls[i].voltage = QStringLiteral("60.0");
            polls[i].temperature = QStringLiteral("23.5");
            for (int ch = 0; ch < archive::kChannels; ++ch) {
                polls[i].current[ch] = QStringLiteral("41.%1(mA)").arg(i % 100);
                polls[i].charge[ch] = QStringLiteral("%1.5(C)").arg(i + ch);
            }
            batch.emplace_back(h.uid, &polls[i]);
        }
        writes.addPolls(batch);
        for (int n = 1; n <= 72; ++n) {
            archive::RecordRow r;
            r.number = n;
            r.atMs = n * 300000;
            for (int ch = 0; ch < archive::kChannels; ++ch) r.charge[ch] = QStringLiteral("1.0(C)");
            writes.addRecord(h.uid, r);
        }
        writes.changeState(h.uid, archive::TestState::FinishedByMinutes, 21600000);
        writes.changeState(h.uid, archive::TestState::Closed, 21700000);
    }

    server::ServerSender::Options options;
    options.settings = [uri] {
        server::ServerSettings s;
        s.uri = uri;
        return s;
    };
    const auto start = Clock::now();
    std::mutex seenMutex;
    std::vector<std::pair<double, QString>> seen;
    server::ServerSender sender(
        path,
        [&](const server::ServerSender::Status& s) {
            std::lock_guard lock(seenMutex);
            seen.emplace_back(std::chrono::duration<double>(Clock::now() - start).count(),
                              s.text());
        },
        options);
    while (sender.status().state != server::ServerSender::State::Synced) {
        if (Clock::now() - start > std::chrono::seconds(120)) {
            std::fprintf(stderr, "not synced: %s\n", qPrintable(sender.status().text()));
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const QString polls = cluster.query("SELECT count(*) FROM polls", "kivo");
    const QString records = cluster.query("SELECT count(*) FROM records", "kivo");
    std::printf("%-44s %9s %9s %7s\n", "", "s", "limit s", "ratio");
    std::printf("%-44s %9.2f %9.1f %7.2f\n", "six-hour test caught up after an outage", seconds,
                10.0, seconds / 10.0);
    std::printf("  (%s polls, %s records on the server, connection and schema check included)\n",
                qPrintable(polls), qPrintable(records));
    {
        std::lock_guard lock(seenMutex);
        for (const auto& [at, text] : seen) std::printf("  %7.2f s  %s\n", at, qPrintable(text));
    }
    return seconds < 10.0 && polls == QLatin1String("10800") && records == QLatin1String("72") ? 0
                                                                                               : 1;
}
