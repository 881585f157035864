#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>

#include "lab_live/headless_chromium.h"
#include "lab_live/live_fixture.h"

using namespace LiveTesting;

namespace {

// `text` as a JavaScript string literal.
QString Js(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// What the card of bench `bench` shows in the element `selector`; null when there is no card.
QString CardText(const QString& bench, const QString& selector) {
    return QStringLiteral(
               "(function () {"
               "  for (const c of document.querySelectorAll('section.card'))"
               "    if (c.querySelector('h2').textContent === %1)"
               "      return c.querySelector(%2).textContent;"
               "  return null;"
               "})()")
        .arg(Js(QStringLiteral("实验台 ") + bench), Js(selector));
}

QString BenchName(const QString& host) { return host + QStringLiteral(" COM1（/dev/ttyUSB0）"); }

// The page in a real browser: a card per bench with its state, minute, temperature and
// channels; a running bench silent for 30 s is lost (by the server's clock, so also while no
// event comes); every text shown as text; a new poll shows by itself.
TEST(LivePage, ShowsEveryBenchAndTellsTheSilentOnes) {
    const QString database = LiveDatabase();
    server::PgConnection db({UriWithPassword(database), {}, 10});
    const QString hostile = QStringLiteral("<img src=x onerror=alert(1)>");
    const struct {
        QString host;
        qint64 silentMs;
        std::vector<const char*> states;
        QString shown;  // at once; empty: not looked at before it turns lost
        QString later;  // once 30 s have passed since the last poll
    } cases[] = {
        {"LAB-PC-1", 0, {"running"}, "运行中", "运行中"},
        {"LAB-PC-2", 40000, {"running"}, "失联", "失联"},
        {"LAB-PC-3", 40000, {"running", "paused"}, "暂停", "暂停"},
        {"LAB-PC-4", 3600000, {"running", "finished_minutes"}, "完成", "完成"},
        {"LAB-PC-5", 12000, {"running"}, "", "失联"},
        {hostile, 0, {"running", "comm_failure"}, "通信故障", "通信故障"},
    };
    int n = 0;
    QString lostUid;
    for (const auto& c : cases) {
        archive::TestHeader header = Header(QStringLiteral("page-%1").arg(++n), "/dev/ttyUSB0");
        header.tester = c.host == hostile ? QStringLiteral("<script>alert(1)</script>")
                                          : QStringLiteral("王建国");
        AddTest(db, AddBench(db, c.host), header, c.states);
        archive::PollRow poll = Poll(360);
        poll.minutes = 12;
        AddPoll(db, header.uid, 1, poll, c.silentMs);
        if (c.host == QLatin1String("LAB-PC-2")) lostUid = header.uid;
    }
    lab::LiveFeed::Options slow;
    slow.fallbackMs = 600000;  // only a notification makes the feed read again
    LiveServer live(UriWithPassword(database), slow);

    HeadlessChromium browser;
    ASSERT_TRUE(browser.valid()) << browser.error().toStdString();
    ASSERT_TRUE(browser.open(live.url(QStringLiteral("/live")))) << browser.error().toStdString();
    ASSERT_TRUE(browser.waitFor(
        QStringLiteral("document.querySelectorAll('section.card').length === %1").arg(n)))
        << browser.error().toStdString();
    for (const auto& c : cases) {
        if (c.shown.isEmpty()) continue;
        EXPECT_EQ(browser.evaluate(CardText(BenchName(c.host), ".state")).toString(), c.shown)
            << c.host.toStdString();
    }
    for (const auto& c : cases)
        EXPECT_TRUE(browser.waitFor(CardText(BenchName(c.host), ".state") + " === " + Js(c.later)))
            << c.host.toStdString();
    // The card's fields in order. Its state was checked above: read here with the time since
    // the bench was heard, both of which follow the clock (a machine that stalls for half a
    // minute turns the bench lost meanwhile, rightly).
    EXPECT_EQ(browser.evaluate(CardText(BenchName("LAB-PC-1"), "dl")).toString(),
              QStringLiteral("状态%1时间第 12 / 360 min温度23.0 ℃最后通信%2测试人王建国测试单位检测中心")
                  .arg(browser.evaluate(CardText(BenchName("LAB-PC-1"), ".state")).toString(),
                       browser.evaluate(CardText(BenchName("LAB-PC-1"), ".heard")).toString()));
    EXPECT_EQ(browser.evaluate(CardText(BenchName("LAB-PC-1"), "tbody")).toString(),
              QStringLiteral("140.60360.0241.60361.0342.60362.0443.60363.0544.60364.06未用"));
    // The hostile names are text: no element made of them.
    EXPECT_EQ(
        browser.evaluate(QStringLiteral("document.querySelectorAll('img, main script').length"))
            .toInt(-1),
        0);
    EXPECT_TRUE(browser.waitFor(CardText(BenchName(hostile), "dl") + ".includes(" +
                                Js(QStringLiteral("<script>alert(1)</script>")) + ")"));

    // The lost bench is heard again: the page shows it by itself.
    archive::PollRow poll = Poll(390);
    poll.minutes = 13;
    AddPoll(db, lostUid, 2, poll);
    EXPECT_TRUE(browser.waitFor(CardText(BenchName("LAB-PC-2"), ".state") + " === '运行中' && " +
                                CardText(BenchName("LAB-PC-2"), "dl") +
                                ".includes('第 13 / 360 min')"))
        << browser.error().toStdString();
}

// A browser whose clock is an hour off tells lost benches as well: the silence is measured
// against the server's clock that comes with the snapshot, never against the browser's.
TEST(LivePage, AWrongClockInTheBrowserDoesNotLie) {
    const QString database = LiveDatabase();
    server::PgConnection db({UriWithPassword(database), {}, 10});
    const struct {
        const char* host;
        qint64 silentMs;
        QString shown;
    } benches[] = {{"LAB-PC-1", 0, "运行中"}, {"LAB-PC-2", 40000, "失联"}};
    int n = 0;
    for (const auto& b : benches) {
        const archive::TestHeader header =
            Header(QStringLiteral("clock-%1").arg(++n), "/dev/ttyUSB0");
        AddTest(db, AddBench(db, b.host), header);
        AddPoll(db, header.uid, 1, Poll(30), b.silentMs);
    }
    LiveServer live(UriWithPassword(database));
    for (const qint64 skewMs : {qint64{3600000}, qint64{-3600000}}) {
        HeadlessChromium browser;
        const QString skewed =
            QStringLiteral("{ const real = Date.now; Date.now = () => real() + %1; }").arg(skewMs);
        ASSERT_TRUE(browser.open(live.url(QStringLiteral("/live")), 1280, 800, skewed))
            << browser.error().toStdString();
        ASSERT_TRUE(browser.waitFor(
            QStringLiteral("document.querySelectorAll('section.card').length === 2")));
        for (const auto& b : benches)
            EXPECT_EQ(browser.evaluate(CardText(BenchName(b.host), ".state")).toString(), b.shown)
                << b.host << " with the browser's clock off by " << skewMs << " ms";
    }
}

// Not a check: renders docs/lab-live.png, three benches of a lab mid-test, when
// KIVO_LAB_LIVE_SHOT names the file (`scripts/screenshots` style).
TEST(LivePage, ScreenshotForTheReadme) {
    const QByteArray shot = qgetenv("KIVO_LAB_LIVE_SHOT");
    if (shot.isEmpty()) GTEST_SKIP() << "KIVO_LAB_LIVE_SHOT not set";
    const QString database = LiveDatabase();
    server::PgConnection db({UriWithPassword(database), {}, 10});
    const struct {
        const char* host;
        const char* device;
        std::vector<const char*> states;
        int minute;
        qint64 silentMs;
        const char* tester;
        double current;
    } benches[] = {
        {"LAB-PC-1", "/dev/ttyUSB0", {"running"}, 182, 1000, "李明", 41.2},
        {"LAB-PC-2", "/dev/ttyUSB1", {"running", "paused"}, 95, 300000, "王建国", 38.7},
        {"LAB-PC-3", "/dev/ttyUSB0", {"running"}, 241, 45000, "张伟", 52.4},
    };
    int n = 0;
    for (const auto& b : benches) {
        archive::TestHeader header = Header(QStringLiteral("shot-%1").arg(++n), b.device);
        header.tester = QString::fromUtf8(b.tester);
        header.organisation = QStringLiteral("市建设工程质量检测中心");
        header.channelOff = {0, 0, 0, 0, 0, 0};
        const qint64 bench =
            db.exec(
                  "INSERT INTO benches (host_name, port_name, port_device, usb_serial, "
                  "program_version) VALUES ($1, 'COM1', $2, '', '1.0.0') RETURNING id",
                  server::PgParams().add(QString(b.host)).add(QString(b.device)))
                .integer(0, 0);
        AddTest(db, bench, header, b.states);
        archive::PollRow poll;
        poll.atMs = header.startedAtMs + qint64{b.minute} * 60000;
        poll.minutes = b.minute;
        poll.voltage = QStringLiteral("60.0");
        poll.temperature = QStringLiteral("%1").arg(22.4 + n * 1.3, 0, 'f', 1);
        for (int ch = 0; ch < 6; ++ch) {
            const double mA = b.current + ch * 1.7 - (ch % 2) * 2.9;
            poll.current[ch] = QStringLiteral("%1(mA)").arg(mA, 0, 'f', 2);
            poll.charge[ch] = QStringLiteral("%1(C)").arg(mA * b.minute * 60 / 1000, 0, 'f', 1);
        }
        AddPoll(db, header.uid, 1, poll, b.silentMs);
    }
    LiveServer live(UriWithPassword(database));
    HeadlessChromium browser;
    ASSERT_TRUE(browser.open(live.url(QStringLiteral("/live")))) << browser.error().toStdString();
    ASSERT_TRUE(
        browser.waitFor(QStringLiteral("document.querySelectorAll('.state.lost').length === 1")));
    QFile file(QString::fromLocal8Bit(shot));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(browser.screenshot());
}

}  // namespace
