#pragma once

#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "lab/live/live_feed.h"
#include "lab/live/live_notify.h"
#include "lab/live/live_routes.h"
#include "server/server_fixture.h"
#include "server/server_rows.h"
#include "server/server_schema.h"

// The live page's tests: a database made as the benches make it, with the live trigger run by
// its owner; the routes served on 127.0.0.1 by a web server of the test; an event stream read
// as a browser reads it.
namespace LiveTesting {

using namespace ServerTesting;

inline QString LiveDatabase() {
    const QString name = FreshDatabase();
    server::PgConnection owner({UriWithPassword(name), {}, 10});
    server::PrepareServerSchema(owner);
    owner.execScript(lab::LiveNotifySql().c_str());
    return name;
}

// A bench row, a test on it and its state changes, as the benches' inserts leave them.
inline qint64 AddBench(server::PgConnection& db, const QString& host) {
    return db
        .exec(
            "INSERT INTO benches (host_name, port_name, port_device, usb_serial, "
            "program_version) VALUES ($1, 'COM1', '/dev/ttyUSB0', '', '1.0.0') RETURNING id",
            server::PgParams().add(host))
        .integer(0, 0);
}

inline void AddTest(server::PgConnection& db, qint64 bench, const archive::TestHeader& header,
                    const std::vector<const char*>& states = {"running"}) {
    server::PgParams p;
    p.add(bench);
    server::AddHeader(p, header);
    db.exec((QByteArray("INSERT INTO tests (bench_id, ") + server::kTestColumns + ") VALUES " +
             server::ValuesList(1, server::kTestColumnCount + 1))
                .constData(),
            p);
    int ordinal = 0;
    for (const char* state : states)
        db.exec(
            "INSERT INTO state_changes (test_uid, ordinal, state, at_ms) VALUES ($1, $2, $3, 0)",
            server::PgParams().add(header.uid).add(qint64{++ordinal}).add(QString(state)));
}

// A poll the server received `ageMs` ago.
inline void AddPoll(server::PgConnection& db, const QString& uid, int seq,
                    const archive::PollRow& poll, qint64 ageMs = 0) {
    server::PgParams p;
    p.add(uid).add(qint64{seq});
    server::AddPoll(p, poll);
    p.add(ageMs);
    db.exec((QByteArray("INSERT INTO polls (test_uid, seq, ") + server::kPollColumns +
             ", received_at) VALUES (" +
             server::ValuesList(1, server::kPollColumnCount + 2).mid(1).chopped(1) +
             ", now() - $19 * interval '1 millisecond')")
                .constData(),
            p);
}

// The feed and the routes on a free port of 127.0.0.1, every request signed in unless told.
struct LiveServer {
    lab::LiveFeed feed;
    httplib::Server http;
    std::thread thread;
    int port = 0;

    LiveServer(const QString& conninfo, lab::LiveFeed::Options feedOptions = {},
               lab::LiveRoutesOptions routes = {},
               std::function<bool(const httplib::Request&)> signedIn = {})
        : feed(conninfo.toStdString(), feedOptions) {
        http.new_task_queue = [] { return new httplib::ThreadPool(64); };
        lab::AddLiveRoutes(
            http, feed, signedIn ? signedIn : [](const httplib::Request&) { return true; }, routes);
        port = http.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { http.listen_after_bind(); });
    }
    ~LiveServer() { stop(); }
    void stop() {
        http.stop();
        if (thread.joinable()) thread.join();
    }
    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
    }
};

inline QJsonObject Parse(const std::string& json) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

// The bench named `name` in a snapshot, or an empty object.
inline QJsonObject BenchIn(const QJsonObject& snapshot, const QString& key, const QString& value) {
    for (const QJsonValue& b : snapshot.value(QStringLiteral("benches")).toArray())
        if (b.toObject().value(key).toString() == value) return b.toObject();
    return {};
}

// Reads /live/events as a browser does, on a thread of its own: each event's JSON kept in
// order.
class EventReader {
  public:
    explicit EventReader(int port) : m_client("127.0.0.1", port) {
        m_client.set_read_timeout(600, 0);
        m_thread = std::thread([this] {
            auto result = m_client.Get(
                "/live/events",
                [this](const httplib::Response& res) {
                    std::lock_guard lock(m_mutex);
                    m_status = res.status;
                    return true;
                },
                [this](const char* data, size_t length) {
                    std::lock_guard lock(m_mutex);
                    m_buffer.append(data, length);
                    for (size_t end; (end = m_buffer.find("\n\n")) != std::string::npos;) {
                        const std::string event = m_buffer.substr(0, end);
                        m_buffer.erase(0, end + 2);
                        const size_t data = event.find("data: ");
                        if (data != std::string::npos)
                            m_events.push_back(Parse(event.substr(data + 6)));
                        else
                            m_comments += event + '\n';
                    }
                    m_changed.notify_all();
                    return !m_leave;
                });
            std::lock_guard lock(m_mutex);
            if (result && m_status == 0) m_status = result->status;
            m_ended = true;
            m_changed.notify_all();
        });
    }
    ~EventReader() { leave(); }
    // Goes away as a browser tab that is closed.
    void leave() {
        {
            std::lock_guard lock(m_mutex);
            m_leave = true;
        }
        m_client.stop();
        if (m_thread.joinable()) m_thread.join();
    }

    // Waits (up to `ms`) for an event that `wanted` accepts; the first such event.
    std::optional<QJsonObject> waitFor(const std::function<bool(const QJsonObject&)>& wanted,
                                       int ms = 30000) {
        std::unique_lock lock(m_mutex);
        std::optional<QJsonObject> found;
        m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            for (const QJsonObject& e : m_events)
                if (wanted(e)) {
                    found = e;
                    return true;
                }
            return m_ended;
        });
        return found;
    }
    bool waitEnded(int ms = 30000) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_ended; });
    }
    int status() {
        std::lock_guard lock(m_mutex);
        return m_status;
    }
    size_t events() {
        std::lock_guard lock(m_mutex);
        return m_events.size();
    }

  private:
    httplib::Client m_client;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_buffer, m_comments;
    std::vector<QJsonObject> m_events;
    int m_status = 0;
    bool m_ended = false;
    bool m_leave = false;
};

}  // namespace LiveTesting
