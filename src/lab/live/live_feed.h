#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

// The live state of every bench for the web service's viewers. A thread of its own holds a
// connection to the lab database that LISTENs for new polls (the trigger of live_notify.h),
// reads each bench's newest test and poll when told (notifications arriving together make one
// read), once at the start and every few seconds besides, and publishes the result as a
// numbered snapshot. Viewers only ever copy a pointer under a mutex: no HTTP thread waits for
// the database. A lost connection is made again after a growing pause; meanwhile the last
// snapshot stays, marked with the cause.
namespace lab {

class LiveFeed {
  public:
    struct Options {
        int fallbackMs = 5000;   // reads this often without a notification
        int coalesceMs = 50;     // notifications within this time of the first make one read
        int minRetryMs = 500;    // the first pause after a failure ...
        int maxRetryMs = 15000;  // ... doubling up to this
        int connectTimeoutSeconds = 5;
        int statementTimeoutMs = 10000;
    };

    // What viewers see. A new version is published only when something shown changed.
    struct Snapshot {
        std::uint64_t version = 0;
        std::string benches = "[]";  // the JSON array of lab::BenchesJson
        QString status;              // empty while the database is read; else why not, Chinese
    };

    // Starts the thread; `conninfo` is a libpq URI or "key=value" string (a role that may read).
    explicit LiveFeed(std::string conninfo);
    LiveFeed(std::string conninfo, Options options);
    // Ends the thread at once, a connection or a statement under way included, and wakes every
    // waiting viewer. Stop the HTTP server first: the routes use the feed.
    ~LiveFeed();
    LiveFeed(const LiveFeed&) = delete;
    LiveFeed& operator=(const LiveFeed&) = delete;

    std::shared_ptr<const Snapshot> snapshot() const;
    // Waits until a snapshot newer than `known` is published, the feed stops, or `limit`
    // passes; returns the snapshot then.
    std::shared_ptr<const Snapshot> waitNewer(std::uint64_t known,
                                              std::chrono::milliseconds limit) const;
    bool stopping() const;

    // The viewers of the event stream, counted so that they can be bounded.
    bool addViewer(int limit);  // false when `limit` are watching already
    void removeViewer();
    int viewers() const;

    // The page's JSON of `snapshot`, with this service's clock `nowMs` and the silence after
    // which a running bench counts as lost.
    static std::string Json(const Snapshot& snapshot, std::int64_t nowMs);

    struct Shared;

  private:
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

// A running bench not heard from for this long is shown as lost (失联).
inline constexpr std::int64_t kLiveSilentMs = 30000;

// This service's clock, in milliseconds since the epoch.
std::int64_t LiveNowMs();

}  // namespace lab
