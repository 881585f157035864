#include "lab/live/live_feed.h"

#include <poll.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>

#include "lab/live/live_bench.h"
#include "lab/live/live_notify.h"
#include "server/pg_connection.h"

namespace lab {

namespace {

// Before the first read: nothing to show yet, and the page says so.
std::shared_ptr<const LiveFeed::Snapshot> First() {
    auto first = std::make_shared<LiveFeed::Snapshot>();
    first->status = QStringLiteral("正在读取实验室服务器…");
    return first;
}

}  // namespace

struct LiveFeed::Shared {
    std::string conninfo;
    Options options;
    server::PgInterrupt interrupt;  // triggered once, when the feed ends

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::shared_ptr<const Snapshot> snapshot = First();
    bool stop = false;
    int viewers = 0;

    // When each bench's newest poll was first seen, by its test and sequence number: a read
    // that finds the same poll again keeps the time, so a read that finds nothing new
    // publishes nothing.
    std::map<std::pair<QString, qint64>, qint64> heardAt;

    void publish(const std::vector<LiveBench>* benches, const QString& status);
    void run();
    void follow(server::PgConnection& db);
    void read(server::PgConnection& db);
    // Waits up to `ms` for the socket (when >= 0) or the interrupt: 1 socket ready, 0 time up,
    // -1 interrupted.
    int wait(int socket, int ms);
};

std::int64_t LiveNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void LiveFeed::Shared::publish(const std::vector<LiveBench>* benches, const QString& status) {
    std::lock_guard lock(mutex);
    const std::string json = benches ? BenchesJson(*benches) : snapshot->benches;
    if (json == snapshot->benches && status == snapshot->status) return;
    auto next = std::make_shared<Snapshot>();
    next->version = snapshot->version + 1;
    next->benches = json;
    next->status = status;
    snapshot = std::move(next);
    changed.notify_all();
}

void LiveFeed::Shared::read(server::PgConnection& db) {
    std::vector<LiveBench> benches = ReadLiveBenches(db);
    const qint64 now = LiveNowMs();
    std::map<std::pair<QString, qint64>, qint64> seen;
    for (LiveBench& b : benches) {
        const auto key = std::pair(b.testUid, b.pollSeq);
        const auto known = heardAt.find(key);
        b.lastHeardMs = known != heardAt.end() ? known->second : now - b.silentMs;
        seen.emplace(key, b.lastHeardMs);
    }
    heardAt = std::move(seen);
    publish(&benches, {});
}

int LiveFeed::Shared::wait(int socket, int ms) {
    pollfd fds[2] = {{interrupt.fd(), POLLIN, 0}, {socket, POLLIN, 0}};
    const int n = ::poll(fds, socket >= 0 ? 2 : 1, std::max(0, ms));
    if (n > 0 && (fds[0].revents & POLLIN)) return -1;
    return n > 0 ? 1 : 0;
}

// Reads once, then again at every notification (or burst of them) and every fallbackMs,
// until the connection fails (thrown) or the feed ends.
void LiveFeed::Shared::follow(server::PgConnection& db) {
    db.exec((std::string("LISTEN ") + kLiveChannel).c_str());
    read(db);
    PGconn* conn = db.get();
    const int socket = PQsocket(conn);
    using Clock = std::chrono::steady_clock;
    auto nextRead = Clock::now() + std::chrono::milliseconds(options.fallbackMs);
    const auto drain = [&] {
        if (!PQconsumeInput(conn))
            throw server::PgError(server::PgError::Kind::Unreachable,
                                  QStringLiteral("与服务器的连接中断"),
                                  QString::fromUtf8(PQerrorMessage(conn)));
        bool any = false;
        while (PGnotify* n = PQnotifies(conn)) {
            any = true;
            PQfreemem(n);
        }
        return any;
    };
    for (;;) {
        const int left = int(
            std::chrono::duration_cast<std::chrono::milliseconds>(nextRead - Clock::now()).count());
        const int ready = left > 0 ? wait(socket, left) : 0;
        if (ready < 0) return;
        if (ready > 0 && !drain()) continue;  // a message that is no notification
        if (ready > 0) {
            // A burst (benches sending together, a bench catching up) makes one read.
            const auto until = Clock::now() + std::chrono::milliseconds(options.coalesceMs);
            while (Clock::now() < until) {
                const int more = wait(
                    socket,
                    int(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now())
                            .count()));
                if (more < 0) return;
                if (more > 0) drain();
            }
        }
        read(db);
        nextRead = Clock::now() + std::chrono::milliseconds(options.fallbackMs);
    }
}

void LiveFeed::Shared::run() {
    int retryMs = options.minRetryMs;
    while (!interrupt.triggered()) {
        try {
            server::PgConnection::Options o;
            o.conninfo = QString::fromStdString(conninfo);
            o.connectTimeoutSeconds = options.connectTimeoutSeconds;
            o.applicationName = QStringLiteral("kivo-lab-live");
            o.statementTimeoutMs = options.statementTimeoutMs;
            o.interrupt = &interrupt;
            o.readOnly = true;
            server::PgConnection db(o);
            retryMs = options.minRetryMs;
            follow(db);
            return;  // ended
        } catch (const server::PgError& e) {
            if (e.kind == server::PgError::Kind::Cancelled || interrupt.triggered()) return;
            publish(nullptr, QStringLiteral("无法读取实验室服务器：%1").arg(e.message));
        }
        if (wait(-1, retryMs) < 0) return;
        retryMs = std::min(retryMs * 2, options.maxRetryMs);
    }
}

LiveFeed::LiveFeed(std::string conninfo) : LiveFeed(std::move(conninfo), Options()) {}

LiveFeed::LiveFeed(std::string conninfo, Options options) : m_shared(std::make_shared<Shared>()) {
    m_shared->conninfo = std::move(conninfo);
    m_shared->options = options;
    m_thread = std::thread([shared = m_shared] { shared->run(); });
}

LiveFeed::~LiveFeed() {
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->stop = true;
    }
    m_shared->interrupt.trigger();
    m_shared->changed.notify_all();
    m_thread.join();
}

std::shared_ptr<const LiveFeed::Snapshot> LiveFeed::snapshot() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->snapshot;
}

std::shared_ptr<const LiveFeed::Snapshot> LiveFeed::waitNewer(
    std::uint64_t known, std::chrono::milliseconds limit) const {
    std::unique_lock lock(m_shared->mutex);
    m_shared->changed.wait_for(
        lock, limit, [&] { return m_shared->stop || m_shared->snapshot->version > known; });
    return m_shared->snapshot;
}

bool LiveFeed::stopping() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->stop;
}

bool LiveFeed::addViewer(int limit) {
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->viewers >= limit) return false;
    ++m_shared->viewers;
    return true;
}

void LiveFeed::removeViewer() {
    std::lock_guard lock(m_shared->mutex);
    --m_shared->viewers;
}

int LiveFeed::viewers() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->viewers;
}

std::string LiveFeed::Json(const Snapshot& snapshot, std::int64_t nowMs) {
    QJsonObject o;
    o[QStringLiteral("version")] = double(snapshot.version);
    o[QStringLiteral("serverTimeMs")] = double(nowMs);
    o[QStringLiteral("silentAfterMs")] = double(kLiveSilentMs);
    o[QStringLiteral("status")] = snapshot.status;
    std::string json = QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
    // The benches are JSON already: set in as they are, not parsed again for every viewer.
    json.pop_back();
    return json + ",\"benches\":" + snapshot.benches + '}';
}

}  // namespace lab
