#include <gtest/gtest.h>

#include "lab/live/live_bench.h"
#include "lab_live/live_fixture.h"

using namespace LiveTesting;

namespace {

// Nothing of the live page without a login: the page sends to the login, the data is refused.
TEST(LiveRoutes, EverythingButTheAssetsNeedsALogin) {
    LiveServer live(UriWithPassword(LiveDatabase()), {}, {},
                    [](const httplib::Request& req) { return req.has_header("Cookie"); });
    const struct {
        const char* path;
        bool cookie;
        int status;
        const char* location;
        const char* type;
    } cases[] = {
        {"/live", false, 303, "/login", ""},
        {"/api/live", false, 401, "", "application/json; charset=utf-8"},
        {"/live/events", false, 401, "", "text/plain; charset=utf-8"},
        {"/live", true, 200, "", "text/html; charset=utf-8"},
        {"/api/live", true, 200, "", "application/json; charset=utf-8"},
        {"/live/live.js", false, 200, "", "text/javascript; charset=utf-8"},
        {"/live/live.css", false, 200, "", "text/css; charset=utf-8"},
    };
    httplib::Client client("127.0.0.1", live.port);
    for (const auto& c : cases) {
        httplib::Headers headers;
        if (c.cookie) headers.emplace("Cookie", "session=1");
        const auto res = client.Get(c.path, headers);
        ASSERT_TRUE(res) << c.path;
        EXPECT_EQ(res->status, c.status) << c.path;
        EXPECT_EQ(res->get_header_value("Location"), c.location) << c.path;
        if (*c.type) {
            EXPECT_EQ(res->get_header_value("Content-Type"), c.type) << c.path;
        }
        if (c.status == 200 && std::string(c.path) == "/live") {
            // Its own script and style only, nothing from outside.
            EXPECT_NE(res->get_header_value("Content-Security-Policy").find("script-src 'self'"),
                      std::string::npos);
            EXPECT_EQ(res->body.find("http"), std::string::npos);
        }
    }
}

// An event stream holds a server thread only while someone watches: it ends when the viewer
// goes, when the server stops, and a viewer beyond the limit is told to come back later.
TEST(LiveRoutes, StreamsEndWithTheirViewerOrTheServer) {
    lab::LiveRoutesOptions routes;
    routes.keepAliveMs = 600000;  // no keep-alive write during the test tells a viewer gone
    routes.maxStreams = 3;
    LiveServer live(UriWithPassword(LiveDatabase()), {}, routes);
    std::vector<std::unique_ptr<EventReader>> viewers;
    for (int i = 0; i < 3; ++i) {
        viewers.push_back(std::make_unique<EventReader>(live.port));
        ASSERT_TRUE(viewers.back()->waitFor([](const QJsonObject&) { return true; }));
    }
    EXPECT_EQ(live.feed.viewers(), 3);

    EventReader refused(live.port);
    ASSERT_TRUE(refused.waitEnded());
    EXPECT_EQ(refused.status(), 503);

    viewers.front()->leave();  // a closed tab
    EXPECT_TRUE(PumpUntil([&] { return live.feed.viewers() == 2; }));

    live.stop();  // returns only once every stream has ended
    for (size_t i = 1; i < viewers.size(); ++i) EXPECT_TRUE(viewers[i]->waitEnded());
    EXPECT_EQ(live.feed.viewers(), 0);
}

// Readings shown without their units, texts of every kind kept as JSON strings.
TEST(LiveRoutes, TheSnapshotCarriesTheServersClockAndPlainReadings) {
    const struct {
        QString reading, shown;
    } cases[] = {
        {"12.50(mA)", "12.50"}, {"1234.5(C)", "1234.5"}, {"", ""}, {"(C)", "(C)"}, {"abc", "abc"},
    };
    for (const auto& c : cases) EXPECT_EQ(lab::WithoutUnit(c.reading), c.shown);

    lab::LiveFeed::Snapshot s;
    s.version = 7;
    s.status = QStringLiteral("无法读取实验室服务器：\"x\"\n<b>");
    s.benches = R"([{"bench":"a"}])";
    const QJsonObject json = Parse(lab::LiveFeed::Json(s, 1796000000123));
    EXPECT_EQ(json.value(QStringLiteral("version")).toInteger(), 7);
    EXPECT_EQ(json.value(QStringLiteral("serverTimeMs")).toInteger(), 1796000000123);
    EXPECT_EQ(json.value(QStringLiteral("silentAfterMs")).toInteger(), 30000);
    EXPECT_EQ(json.value(QStringLiteral("status")).toString(), s.status);
    EXPECT_EQ(json.value(QStringLiteral("benches")).toArray().size(), 1);
}

}  // namespace
