// The live page's latency on loopback: from a poll inserted on the lab server to its event at
// a viewer of /live/events, for one viewer and for 200 at once. Prints each p50/p99 and its
// ratio against the goal (a ratio below 1 meets it).
#include <httplib.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bench_server.h"
#include "lab/live/live_feed.h"
#include "lab/live/live_notify.h"
#include "lab/live/live_routes.h"
#include "server/pg_connection.h"
#include "server/server_schema.h"

namespace {

using Clock = std::chrono::steady_clock;

// A viewer: the time each minute count of bench "B" first arrived.
class Viewer {
  public:
    explicit Viewer(int port) : m_client("127.0.0.1", port) {
        m_client.set_read_timeout(600, 0);
        m_thread = std::thread([this] {
            m_client.Get("/live/events", [this](const char* data, size_t length) {
                const auto now = Clock::now();
                std::lock_guard lock(m_mutex);
                m_buffer.append(data, length);
                for (size_t end; (end = m_buffer.find("\n\n")) != std::string::npos;) {
                    const std::string event = m_buffer.substr(0, end);
                    m_buffer.erase(0, end + 2);
                    ++m_events;
                    // The minute is the only number after "minute": in the bench's JSON.
                    const size_t at = event.find("\"minute\":");
                    if (at != std::string::npos)
                        m_arrived.try_emplace(std::atoi(event.c_str() + at + 9), now);
                }
                m_changed.notify_all();
                return true;
            });
        });
    }
    ~Viewer() {
        m_client.stop();
        m_thread.join();
    }
    bool waitEvents(int n) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(60), [&] { return m_events >= n; });
    }
    std::optional<Clock::time_point> waitMinute(int minute) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(30),
                           [&] { return m_arrived.count(minute) > 0; });
        const auto found = m_arrived.find(minute);
        if (found == m_arrived.end()) return std::nullopt;
        return found->second;
    }

  private:
    httplib::Client m_client;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_buffer;
    int m_events = 0;
    std::map<int, Clock::time_point> m_arrived;
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

void Say(const char* what, const std::vector<double>& ms, double goalMs) {
    const double p99 = Percentile(ms, 0.99);
    std::printf("%s: %zu samples, p50 %.1f ms, p99 %.1f ms, goal p99 < %.0f ms, ratio %.3f %s\n",
                what, ms.size(), Percentile(ms, 0.5), p99, goalMs, p99 / goalMs,
                p99 < goalMs ? "(met)" : "(MISSED)");
}

}  // namespace

int Run();

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    try {
        return Run();
    } catch (const server::PgError& e) {
        std::fprintf(stderr, "%s: %s\n", e.what(), qPrintable(e.detail));
        return 1;
    }
}

int Run() {
    PgCluster cluster;
    const QString uri = StartBenchServer(cluster);
    if (uri.isEmpty()) return 1;
    server::PgConnection db({uri, {}, 10});
    server::PrepareServerSchema(db);
    db.execScript(lab::LiveNotifySql().c_str());
    const qint64 bench = db.exec(
                               "INSERT INTO benches (host_name, port_name, port_device, "
                               "usb_serial, program_version) VALUES ('B', 'COM1', '', '', "
                               "'1.0.0') RETURNING id")
                             .integer(0, 0);
    db.exec(
        "INSERT INTO tests SELECT 'bench-test', $1, '2026-12-10', '08:00:00', 0, 'admin', 1, "
        "'COM1', '', '60', 360, 5, 100, 't', 'o', '', '', '', '', '', '', '', '', '', 0, 0, 0, "
        "0, 0, 0, '1.0.0'",
        server::PgParams().add(bench));

    lab::LiveFeed feed(uri.toStdString());
    httplib::Server http;
    http.new_task_queue = [] { return new httplib::ThreadPool(260); };
    lab::LiveRoutesOptions routes;
    routes.maxStreams = 250;
    lab::AddLiveRoutes(
        http, feed, [](const httplib::Request&) { return true; }, routes);
    const int port = http.bind_to_any_port("127.0.0.1");
    std::thread listener([&] { http.listen_after_bind(); });
    struct Joined {
        httplib::Server& http;
        std::thread& listener;
        ~Joined() {
            http.stop();
            listener.join();
        }
    } joined{http, listener};

    int minute = 0;
    // One poll as a bench sends it; the time it was committed.
    const auto insertPoll = [&] {
        ++minute;
        db.exec(
            "INSERT INTO polls (test_uid, seq, at_ms, minutes, voltage, temperature, current_1, "
            "charge_1) VALUES ('bench-test', $1::int, $1::bigint, $1::int, '60.0', '22.0', "
            "'40.00(mA)', '1.0(C)')",
            server::PgParams().add(qint64{minute}));
        return Clock::now();
    };
    const auto runViewers = [&](int count, int polls, const char* what, double goalMs) {
        std::vector<std::unique_ptr<Viewer>> viewers;
        for (int i = 0; i < count; ++i) viewers.push_back(std::make_unique<Viewer>(port));
        for (auto& v : viewers)
            if (!v->waitEvents(1)) std::fprintf(stderr, "a viewer got no first event\n");
        std::vector<double> ms;
        for (int i = 0; i < polls; ++i) {
            const auto sent = insertPoll();
            for (auto& v : viewers) {
                const auto arrived = v->waitMinute(minute);
                ms.push_back(
                    arrived ? std::chrono::duration<double, std::milli>(*arrived - sent).count()
                            : 30000.0);
            }
            // The next poll after the last event: the polls of one bench come 2 s apart.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        Say(what, ms, goalMs);
    };
    runViewers(1, 100, "poll inserted -> event at one viewer", 2000);
    runViewers(200, 30, "poll inserted -> event at each of 200 viewers", 500);
    return 0;
}
