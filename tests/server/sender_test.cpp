// The sender against a real server: killed in the middle of sending, two benches at once,
// the failures an operator must be told about, and the least-privilege role of the README.

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <thread>

#include "archive/archive_writer.h"
#include "server/server_schema.h"
#include "server_fixture.h"

namespace {

using namespace ServerTesting;
using server::ServerSender;

class Sender : public ::testing::Test {
  protected:
    QString archive(const QString& name = QStringLiteral("kivo.sqlite")) const {
        return m_dir.filePath(name);
    }
    QTemporaryDir m_dir;
};

// The child's side of KilledInTheMiddleGoesOnExactlyOnce: a sender that sends slowly, in
// small batches, until it is killed.
TEST(SenderChild, SendsUntilKilled) {
    const QString path = qEnvironmentVariable("KIVO_SENDER_CHILD_ARCHIVE");
    if (path.isEmpty()) GTEST_SKIP() << "run by KilledInTheMiddleGoesOnExactlyOnce";
    ServerSender::Options options = SenderOptions(qEnvironmentVariable("KIVO_SENDER_CHILD_URI"));
    options.pollBatch = 50;
    ServerSender sender(path, {}, options);
    std::this_thread::sleep_for(std::chrono::seconds(60));
}

// Killed with SIGKILL while a six-hour test is on its way, the sending goes on where it
// stopped when the program starts again, and every row is on the server exactly once.
TEST_F(Sender, KilledInTheMiddleGoesOnExactlyOnce) {
    const QString database = FreshDatabase();
    WriteTest(archive(), Header(QStringLiteral("six-hours"), QStringLiteral("/dev/ttyUSB0")), 72,
              10800);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KIVO_SENDER_CHILD_ARCHIVE"), archive());
    env.insert(QStringLiteral("KIVO_SENDER_CHILD_URI"), UriWithPassword(database));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=SenderChild.SendsUntilKilled")});
    ASSERT_TRUE(child.waitForStarted());
    const QString polls = QStringLiteral("SELECT count(*) FROM polls");
    ASSERT_TRUE(PumpUntil([&] { return Count(database, polls) >= 2000; }, 60000));
    child.kill();
    ASSERT_TRUE(child.waitForFinished());
    EXPECT_LT(Count(database, polls), 10800);

    ServerSender again(archive(), {}, SenderOptions(UriWithPassword(database)));
    ASSERT_TRUE(WaitSynced(again));
    EXPECT_EQ(again.status().text(), QStringLiteral("实验室服务器：已同步"));
    ExpectServerHolds(database, archive(), 1);
    EXPECT_EQ(Count(database, polls), 10800);
    EXPECT_EQ(Count(database, QStringLiteral("SELECT count(*) FROM records")), 72);
}

// Two copies of the program with archives of their own send to one server at once: both tests
// arrive whole, each with its bench. A record changed after it was sent reaches the server in
// its new form; a bench pointed at another database sends it everything.
TEST_F(Sender, TwoBenchesOnOneServer) {
    const QString database = FreshDatabase();
    WriteTest(archive("a.sqlite"), Header("test-a", "/dev/ttyUSB0"), 10, 300);
    WriteTest(archive("b.sqlite"), Header("test-b", "/dev/ttyUSB1"), 12, 400);
    {
        ServerSender a(archive("a.sqlite"), {}, SenderOptions(UriWithPassword(database)));
        ServerSender b(archive("b.sqlite"), {}, SenderOptions(UriWithPassword(database)));
        ASSERT_TRUE(WaitSynced(a));
        ASSERT_TRUE(WaitSynced(b));
    }
    EXPECT_EQ(Cluster().query("SELECT string_agg(b.port_device, ' ' ORDER BY t.uid) FROM tests t "
                              "JOIN benches b ON b.id = t.bench_id",
                              database),
              QStringLiteral("/dev/ttyUSB0 /dev/ttyUSB1"));

    {
        archive::ArchiveWriter writer(archive("a.sqlite"), {});
        writer.addRecord("test-a", Record(3, QStringLiteral("!")));
        ASSERT_TRUE(writer.flush(30000));
    }
    {
        ServerSender a(archive("a.sqlite"), {}, SenderOptions(UriWithPassword(database)));
        ASSERT_TRUE(WaitSynced(a));
    }
    ExpectServerHolds(database, archive("a.sqlite"), 1);
    ExpectServerHolds(database, archive("b.sqlite"), 1);
    EXPECT_EQ(Count(database, "SELECT count(*) FROM records WHERE test_uid = 'test-a'"), 11);

    // The lab moves to a new database: the bench sends it everything again.
    const QString moved = FreshDatabase();
    ServerSender toNew(archive("a.sqlite"), {}, SenderOptions(UriWithPassword(moved)));
    ASSERT_TRUE(WaitSynced(toNew));
    ExpectServerHolds(moved, archive("a.sqlite"), 1);
}

// At exit the sender makes a last attempt at once, without waiting for its next look, and
// tells what it reached.
TEST_F(Sender, TheLastAttemptSendsWhatWaitsNow) {
    const QString database = FreshDatabase();
    WriteTest(archive(), Header("first", "/dev/ttyUSB0"), 3, 20);
    ServerSender::Options options = SenderOptions(UriWithPassword(database));
    options.idleCheckMs = 600000;  // it would not look again by itself during the test
    ServerSender sender(archive(), {}, options);
    ASSERT_TRUE(WaitSynced(sender));
    WriteTest(archive(), Header("second", "/dev/ttyUSB0"), 4, 30);
    const ServerSender::Status last = sender.lastAttempt(30000);
    EXPECT_EQ(last.text(), QStringLiteral("实验室服务器：已同步"));
    ExpectServerHolds(database, archive(), 2);
}

// A wrong password, a host where no server listens, a database of a newer program: each is
// one clear cause in the status, while the archive takes every record as before.
TEST_F(Sender, FailuresAreNamedAndTheArchiveGoesOn) {
    const QString newer = FreshDatabase();
    {
        server::PgConnection db({UriWithPassword(newer), {}, 10});
        server::PrepareServerSchema(db);
        db.execScript("INSERT INTO kivo_schema (version) VALUES (99)");
    }
    const struct {
        QString uri, status;
    } cases[] = {
        {UriWithPassword(FreshDatabase(), kRole, QStringLiteral("wrong")),
         QStringLiteral("实验室服务器：无法连接（用户名或密码错误）")},
        {QStringLiteral("postgresql://kivo:x@127.0.0.1:1/kivo"),
         QStringLiteral("实验室服务器：无法连接（服务器没有运行）")},
        {UriWithPassword(newer),
         QStringLiteral("实验室服务器：无法连接（%1）").arg(server::NewerSchemaMessage(99))},
    };
    int n = 0;
    for (const auto& c : cases) {
        const QString path = archive(QStringLiteral("f%1.sqlite").arg(++n));
        archive::ArchiveWriter writer(path, {});
        writer.beginTest(Header("running", "/dev/ttyUSB0"));
        std::vector<QString> seen;
        ServerSender sender(
            path, [&](const ServerSender::Status& s) { seen.push_back(s.text()); },
            SenderOptions(c.uri));
        for (int r = 1; r <= 20; ++r) writer.addRecord("running", Record(r));
        EXPECT_TRUE(PumpUntil([&] { return sender.status().text() == c.status; }))
            << sender.status().text().toStdString();
        ASSERT_TRUE(writer.flush(30000));
        auto reader = archive::ArchiveReader::open(path, nullptr);
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->loadTest(reader->listTests().at(0).id)->records.size(), 20u);
        // Retries do not repeat the message.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_EQ(std::count(seen.begin(), seen.end(), c.status), 1) << c.status.toStdString();
    }
}

// The README's least-privilege role (insert and select only) is all a bench needs once the
// owner has made the tables; it can neither change nor delete what the lab holds.
TEST_F(Sender, TheLeastPrivilegeRoleSendsButCannotChangeRecords) {
    const QString database = FreshDatabase();
    {
        server::PgConnection owner({UriWithPassword(database), {}, 10});
        server::PrepareServerSchema(owner);
    }
    ASSERT_EQ(Cluster().sql(QStringLiteral(R"(
DO $$ BEGIN
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'kivo_bench') THEN
    CREATE ROLE kivo_bench LOGIN PASSWORD 'bench-pw';
  END IF;
END $$;
GRANT CONNECT ON DATABASE %1 TO kivo_bench;
)")
                                .arg(database)),
              QString());
    server::PgConnection owner({UriWithPassword(database), {}, 10});
    owner.execScript(R"(
GRANT USAGE ON SCHEMA public TO kivo_bench;
GRANT SELECT, INSERT ON ALL TABLES IN SCHEMA public TO kivo_bench;
GRANT USAGE ON ALL SEQUENCES IN SCHEMA public TO kivo_bench;
)");
    WriteTest(archive(), Header("least", "/dev/ttyUSB0"), 5, 50);
    const QString bench = UriWithPassword(database, "kivo_bench", "bench-pw");
    {
        ServerSender sender(archive(), {}, SenderOptions(bench));
        ASSERT_TRUE(WaitSynced(sender)) << sender.status().text().toStdString();
    }
    ExpectServerHolds(database, archive(), 1);
    server::PgConnection db({bench, {}, 10});
    for (const char* change : {"UPDATE records SET temperature = '0'", "DELETE FROM records",
                               "DELETE FROM tests", "UPDATE audit_events SET user_name = 'x'"}) {
        try {
            db.execScript(change);
            ADD_FAILURE() << change;
        } catch (const server::PgError& e) {
            EXPECT_EQ(e.message, QStringLiteral("服务器上的账户权限不足")) << change;
        }
    }
}

}  // namespace
