#include "lab/live/live_routes.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

#include "lab/live/live_assets.h"

namespace lab {
namespace {

// The page loads nothing but its own script and style, and sends nothing anywhere but here.
constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

void NoStore(httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
}

void Asset(httplib::Response& res, std::string_view body, const char* type) {
    res.set_header("Cache-Control", "no-cache");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_content(std::string(body), type);
}

// One event of the stream: the snapshot as one data line.
std::string Event(const LiveFeed::Snapshot& snapshot) {
    return "data: " + LiveFeed::Json(snapshot, LiveNowMs()) + "\n\n";
}

// Whether the server is ending. Its stop() only closes the listening socket and then waits
// for every request under way, so an event stream must learn of it by itself: the server's
// task queue tells at its shutdown, before it waits for its threads.
struct Ending {
    std::atomic<bool> now{false};
};

class TellingQueue : public httplib::TaskQueue {
  public:
    TellingQueue(httplib::TaskQueue* inner, std::shared_ptr<Ending> ending)
        : m_inner(inner), m_ending(std::move(ending)) {
        m_ending->now = false;
    }
    void enqueue(std::function<void()> fn) override { m_inner->enqueue(std::move(fn)); }
    void shutdown() override {
        m_ending->now = true;
        m_inner->shutdown();
    }
    void on_idle() override { m_inner->on_idle(); }

  private:
    std::unique_ptr<httplib::TaskQueue> m_inner;
    std::shared_ptr<Ending> m_ending;
};

}  // namespace

void AddLiveRoutes(httplib::Server& http, LiveFeed& feed,
                   std::function<bool(const httplib::Request&)> signedIn,
                   LiveRoutesOptions options) {
    auto ending = std::make_shared<Ending>();
    http.new_task_queue = [inner = http.new_task_queue, ending] {
        return new TellingQueue(
            inner ? inner() : new httplib::ThreadPool(CPPHTTPLIB_THREAD_POOL_COUNT), ending);
    };
    http.Get("/live", [signedIn](const httplib::Request& req, httplib::Response& res) {
        if (!signedIn(req)) {
            res.status = 303;
            res.set_header("Location", "/login");
            NoStore(res);
            return;
        }
        NoStore(res);
        res.set_header("Content-Security-Policy", kPagePolicy);
        res.set_header("X-Frame-Options", "DENY");
        res.set_header("Referrer-Policy", "no-referrer");
        res.set_content(std::string(assets::kLiveHtml), "text/html; charset=utf-8");
    });
    http.Get("/live/live.css", [](const httplib::Request&, httplib::Response& res) {
        Asset(res, assets::kLiveCss, "text/css; charset=utf-8");
    });
    http.Get("/live/live.js", [](const httplib::Request&, httplib::Response& res) {
        Asset(res, assets::kLiveJs, "text/javascript; charset=utf-8");
    });

    http.Get("/api/live", [signedIn, &feed](const httplib::Request& req, httplib::Response& res) {
        NoStore(res);
        if (!signedIn(req)) {
            res.status = 401;
            res.set_content("{\"error\":\"请先登录\"}", "application/json; charset=utf-8");
            return;
        }
        res.set_content(LiveFeed::Json(*feed.snapshot(), LiveNowMs()),
                        "application/json; charset=utf-8");
    });

    http.Get("/live/events", [signedIn, &feed, ending, options](const httplib::Request& req,
                                                                httplib::Response& res) {
        NoStore(res);
        if (!signedIn(req)) {
            res.status = 401;
            res.set_content("请先登录\n", "text/plain; charset=utf-8");
            return;
        }
        if (!feed.addViewer(options.maxStreams)) {
            res.status = 503;
            res.set_header("Retry-After", "10");
            res.set_content("实时页面的观看人数已满，请稍后再试\n", "text/plain; charset=utf-8");
            return;
        }
        // A proxy in front (nginx) must pass each event on at once.
        res.set_header("X-Accel-Buffering", "no");
        // The stream's own state; the provider is called again after each event it writes.
        struct Stream {
            std::uint64_t sent = 0;
            bool started = false;
        };
        auto stream = std::make_shared<Stream>();
        res.set_chunked_content_provider(
            "text/event-stream",
            [&feed, ending, options, stream](size_t, httplib::DataSink& sink) {
                if (!stream->started) {
                    stream->started = true;
                    const auto now = feed.snapshot();
                    stream->sent = now->version;
                    // The browser's own reconnection waits two seconds, not its default three.
                    const std::string first = "retry: 2000\n" + Event(*now);
                    return sink.write(first.data(), first.size());
                }
                const auto quiet = std::chrono::steady_clock::now() +
                                   std::chrono::milliseconds(options.keepAliveMs);
                for (;;) {
                    // Looks often whether the viewer left or the server stops, so that a
                    // thread is never held long for nobody.
                    if (feed.stopping() || ending->now || !sink.is_writable()) return false;
                    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        quiet - std::chrono::steady_clock::now());
                    if (left.count() <= 0) {
                        static constexpr char kKeepAlive[] = ": keep-alive\n\n";
                        return sink.write(kKeepAlive, sizeof kKeepAlive - 1);
                    }
                    const auto now = feed.waitNewer(
                        stream->sent, std::min(left, std::chrono::milliseconds(options.checkMs)));
                    if (now->version > stream->sent) {
                        stream->sent = now->version;
                        const std::string event = Event(*now);
                        return sink.write(event.data(), event.size());
                    }
                }
            },
            [&feed](bool) { feed.removeViewer(); });
    });
}

}  // namespace lab
