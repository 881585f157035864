#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <set>

#include "archive/archive_writer.h"
#include "lab_live/live_fixture.h"

using namespace LiveTesting;

namespace {

// Every statement that adds polls notifies once per test, "<bench id> <test uid>", however
// many polls it adds; running the set-up again leaves one trigger.
TEST(LiveNotify, OneNotificationPerTestAndStatement) {
    const QString database = LiveDatabase();
    server::PgConnection db({UriWithPassword(database), {}, 10});
    db.execScript(lab::LiveNotifySql().c_str());  // again: still one trigger
    const qint64 bench = AddBench(db, QStringLiteral("LAB-PC-1"));
    for (const char* uid : {"a", "b"}) AddTest(db, bench, Header(uid, "/dev/ttyUSB0"));
    db.execScript("LISTEN kivo_live");

    const struct {
        std::vector<std::pair<QString, int>> polls;  // test, seq
        std::multiset<QString> payloads;
    } cases[] = {
        {{{"a", 1}}, {QStringLiteral("%1 a").arg(bench)}},
        {{{"a", 2}, {"a", 3}, {"b", 1}, {"a", 4}, {"b", 2}},
         {QStringLiteral("%1 a").arg(bench), QStringLiteral("%1 b").arg(bench)}},
    };
    for (const auto& c : cases) {
        server::PgParams p;
        for (const auto& [uid, seq] : c.polls) {
            p.add(uid).add(qint64{seq});
            server::AddPoll(p, Poll(seq));
        }
        db.exec(
            (QByteArray("INSERT INTO polls (test_uid, seq, ") + server::kPollColumns + ") VALUES " +
             server::ValuesList(int(c.polls.size()), server::kPollColumnCount + 2))
                .constData(),
            p);
        ASSERT_TRUE(PQconsumeInput(db.get()));
        std::multiset<QString> payloads;
        while (PGnotify* n = PQnotifies(db.get())) {
            EXPECT_STREQ(n->relname, "kivo_live");
            payloads.insert(QString::fromUtf8(n->extra));
            PQfreemem(n);
        }
        EXPECT_EQ(payloads, c.payloads);
    }
    // The set-up leaves the benches' schema version alone.
    EXPECT_EQ(server::ServerSchemaVersion(db), server::kServerSchemaVersion);
}

// A bench's polls, sent by its own sender from its archive, reach the snapshot and every
// viewer's stream, each poll as it arrives: the feed is woken by the notification (it would
// not read again by itself during the test).
TEST(LiveFeed, PollsSentByABenchReachTheSnapshotAndTheStream) {
    const QString database = LiveDatabase();
    lab::LiveFeed::Options slow;
    slow.fallbackMs = 600000;
    LiveServer live(UriWithPassword(database), slow);
    EventReader events(live.port);
    ASSERT_TRUE(events.waitFor([](const QJsonObject& e) {
        return e.value(QStringLiteral("status")).toString().isEmpty();
    })) << lab::LiveFeed::Json(*live.feed.snapshot(), 0);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kivo.sqlite"));
    archive::ArchiveWriter writer(path, {});
    const archive::TestHeader header = Header(QStringLiteral("live-1"), "/dev/ttyUSB0");
    writer.beginTest(header);
    writer.changeState(header.uid, archive::TestState::Running, header.startedAtMs);
    server::ServerSender sender(path, {}, SenderOptions(UriWithPassword(database)));

    const struct {
        int minute;
        QString temperature, current1, charge1;
    } cases[] = {
        {1, "21.5", "40.10", "1.5"},
        {2, "21.7", "40.20", "3.5"},
        {3, "22.0", "40.30", "5.5"},
    };
    httplib::Client client("127.0.0.1", live.port);
    for (const auto& c : cases) {
        archive::PollRow poll = Poll(c.minute * 30);
        poll.minutes = c.minute;
        poll.temperature = c.temperature;
        poll.current[0] = c.current1 + QStringLiteral("(mA)");
        poll.charge[0] = c.charge1 + QStringLiteral("(C)");
        writer.addPoll(header.uid, poll);
        ASSERT_TRUE(writer.flush(30000));
        sender.wake();
        const auto shows = [&](const QJsonObject& snapshot) {
            const QJsonObject b = BenchIn(snapshot, QStringLiteral("testUid"), header.uid);
            return b.value(QStringLiteral("minute")).toInt() == c.minute;
        };
        const auto event = events.waitFor(shows);
        ASSERT_TRUE(event) << "minute " << c.minute;
        const QJsonObject bench = BenchIn(*event, QStringLiteral("testUid"), header.uid);
        EXPECT_EQ(bench.value(QStringLiteral("bench")).toString(),
                  QStringLiteral("%1 COM1（/dev/ttyUSB0）").arg(QSysInfo::machineHostName()));
        EXPECT_EQ(bench.value(QStringLiteral("state")).toString(), QStringLiteral("运行中"));
        EXPECT_TRUE(bench.value(QStringLiteral("running")).toBool());
        EXPECT_EQ(bench.value(QStringLiteral("testMinutes")).toInt(), 360);
        EXPECT_EQ(bench.value(QStringLiteral("temperature")).toString(), c.temperature);
        const QJsonArray channels = bench.value(QStringLiteral("channels")).toArray();
        ASSERT_EQ(channels.size(), 6);
        EXPECT_EQ(channels[0].toObject().value(QStringLiteral("current")).toString(), c.current1);
        EXPECT_EQ(channels[0].toObject().value(QStringLiteral("charge")).toString(), c.charge1);
        EXPECT_FALSE(channels[5].toObject().value(QStringLiteral("inUse")).toBool());

        const auto api = client.Get("/api/live");
        ASSERT_TRUE(api);
        ASSERT_EQ(api->status, 200);
        const QJsonObject snapshot = Parse(api->body);
        EXPECT_TRUE(shows(snapshot));
        EXPECT_GE(snapshot.value(QStringLiteral("version")).toInteger(),
                  event->value(QStringLiteral("version")).toInteger());
    }
}

// A server that restarts (or a connection lost) is said, and the feed connects and listens
// again by itself: a poll after the restart reaches the viewers without a reload.
TEST(LiveFeed, ListensAgainAfterTheServerRestarts) {
    const QString database = LiveDatabase();
    lab::LiveFeed::Options options;
    options.fallbackMs = 600000;  // only a notification makes the feed read
    options.minRetryMs = 100;
    options.maxRetryMs = 1000;
    LiveServer live(UriWithPassword(database), options);
    EventReader events(live.port);
    const auto status = [](const QString& wanted) {
        return [wanted](const QJsonObject& e) {
            return e.value(QStringLiteral("status")).toString().startsWith(wanted);
        };
    };
    ASSERT_TRUE(events.waitFor(status(QString())));
    ASSERT_TRUE(Cluster().restart()) << Cluster().log().toStdString();
    EXPECT_TRUE(events.waitFor(status(QStringLiteral("无法读取实验室服务器："))));

    server::PgConnection db({UriWithPassword(database), {}, 10});
    AddTest(db, AddBench(db, QStringLiteral("LAB-PC-1")), Header("after", "/dev/ttyUSB0"));
    for (int seq = 1;; ++seq) {
        // Polls every second until one arrives: the first may come before the feed is back.
        archive::PollRow poll = Poll(seq);
        poll.minutes = seq;
        AddPoll(db, QStringLiteral("after"), seq, poll);
        if (events.waitFor(
                [](const QJsonObject& e) {
                    return !BenchIn(e, QStringLiteral("testUid"), QStringLiteral("after"))
                                .isEmpty();
                },
                1000))
            break;
        ASSERT_LT(seq, 30) << "no event after the restart";
    }
}

// A database the feed cannot read never holds up a viewer: the snapshot says why at once,
// and the feed ends at once however the server behaves.
TEST(LiveFeed, AnUnreadableDatabaseIsToldAndNeverWaitedFor) {
    // A server that takes the connection and never says a word.
    httplib::Server silent;
    const int silentPort = silent.bind_to_any_port("127.0.0.1");  // listens, never accepts
    const struct {
        QString conninfo, status;
    } cases[] = {
        {QStringLiteral("postgresql://kivo:x@127.0.0.1:%1/kivo").arg(silentPort),
         QStringLiteral("正在读取实验室服务器…")},
        {QStringLiteral("postgresql://kivo:x@127.0.0.1:1/kivo"),
         QStringLiteral("无法读取实验室服务器：服务器没有运行")},
        {UriWithPassword(LiveDatabase(), kRole, QStringLiteral("wrong")),
         QStringLiteral("无法读取实验室服务器：用户名或密码错误")},
    };
    for (const auto& c : cases) {
        lab::LiveFeed::Options patient;
        patient.connectTimeoutSeconds = 600;  // only the feed's end can stop the wait
        LiveServer live(c.conninfo, patient);
        EventReader events(live.port);
        EXPECT_TRUE(events.waitFor([&](const QJsonObject& e) {
            return e.value(QStringLiteral("status")).toString() == c.status;
        })) << c.status.toStdString();
        httplib::Client client("127.0.0.1", live.port);
        client.set_read_timeout(30, 0);
        const auto api = client.Get("/api/live");
        ASSERT_TRUE(api);
        EXPECT_EQ(api->status, 200);
        EXPECT_EQ(Parse(api->body).value(QStringLiteral("benches")).toArray().size(), 0);
    }
}

}  // namespace
