#include "server/server_schema.h"

#include <gtest/gtest.h>

#include <clocale>
#include <future>
#include <thread>

#include "server/pg_connection.h"
#include "server/server_rows.h"
#include "support/pg_cluster.h"

namespace {

using server::PgConnection;
using server::PgError;
using server::PgParams;

class ServerSchema : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_cluster = new PgCluster;
        ASSERT_TRUE(s_cluster->valid()) << s_cluster->error().toStdString();
        ASSERT_TRUE(s_cluster->start()) << s_cluster->error().toStdString();
        ASSERT_TRUE(s_cluster->createRole(QStringLiteral("kivo"), QStringLiteral("s3cret-pw")));
    }
    static void TearDownTestSuite() {
        delete s_cluster;
        s_cluster = nullptr;
    }
    // A fresh database owned by kivo, and a connection to it as kivo.
    std::unique_ptr<PgConnection> freshDatabase(const QString& name) {
        EXPECT_TRUE(s_cluster->createDatabase(name, QStringLiteral("kivo")));
        return std::make_unique<PgConnection>(PgConnection::Options{
            s_cluster->uri(name, QStringLiteral("kivo")), QStringLiteral("s3cret-pw")});
    }
    static PgCluster* s_cluster;
};
PgCluster* ServerSchema::s_cluster = nullptr;

// Benches that start together on an empty database create the schema once; a later start
// finds it in place; a database from a newer program is refused with a message that says so.
TEST_F(ServerSchema, CreatedOnceUnderTheLockAndANewerOneRefused) {
    freshDatabase(QStringLiteral("together")).reset();
    std::vector<int> found(4, -1);
    std::vector<std::thread> benches;
    for (int i = 0; i < 4; ++i)
        benches.emplace_back([&, i] {
            PgConnection db({s_cluster->uri(QStringLiteral("together"), QStringLiteral("kivo")),
                             QStringLiteral("s3cret-pw")});
            try {
                found[i] = server::PrepareServerSchema(db);
            } catch (const PgError& e) {
                ADD_FAILURE() << e.detail.toStdString();
            }
        });
    for (auto& t : benches) t.join();
    EXPECT_EQ(std::count(found.begin(), found.end(), 0), 1);
    EXPECT_EQ(std::count(found.begin(), found.end(), server::kServerSchemaVersion), 3);

    auto db = freshDatabase(QStringLiteral("newer"));
    server::PrepareServerSchema(*db);
    db->exec("INSERT INTO kivo_schema (version) VALUES ($1)",
             PgParams().add(qint64{server::kServerSchemaVersion + 1}));
    try {
        server::PrepareServerSchema(*db);
        FAIL() << "a newer schema was accepted";
    } catch (const PgError& e) {
        EXPECT_EQ(e.kind, PgError::Kind::Refused);
        EXPECT_EQ(e.message, server::NewerSchemaMessage(server::kServerSchemaVersion + 1));
    }
}

// An older database whose upgrade needs a table that a forgotten transaction holds: the
// upgrade neither waits for it without end nor leaves half its steps behind; it gives up with
// a message that says why, and the next attempt after the holder has gone upgrades. The
// benches of the former shared role stay that role's, and what it was granted by default on
// new tables beyond reading goes.
TEST_F(ServerSchema, AnUpgradeHeldUpByALockIsGivenUpWholeAndDoneOnceTheLockGoes) {
    freshDatabase(QStringLiteral("older")).reset();
    ASSERT_EQ(s_cluster->sql(QStringLiteral("DO $$ BEGIN IF NOT EXISTS (SELECT 1 FROM pg_roles "
                                            "WHERE rolname = 'kivo_bench') THEN CREATE ROLE "
                                            "kivo_bench; END IF; END $$")),
              QString());
    {
        PgConnection db({s_cluster->uri(QStringLiteral("older"), QStringLiteral("kivo")),
                         QStringLiteral("s3cret-pw")});
        server::PrepareServerSchema(db, 2);
        db.execScript(
            "ALTER DEFAULT PRIVILEGES IN SCHEMA public GRANT SELECT, INSERT ON TABLES TO "
            "kivo_bench;"
            "INSERT INTO benches (host_name, port_name, port_device, usb_serial, "
            "program_version) VALUES ('pc', 'COM1', '/dev/ttyUSB0', '', '1.0.0')");
    }
    {
        PgConnection db({s_cluster->uri(QStringLiteral("older"), QStringLiteral("kivo")),
                         QStringLiteral("s3cret-pw")});
        server::PrepareServerSchema(db, 3);
    }
    PgConnection::Options o{s_cluster->uri(QStringLiteral("older"), QStringLiteral("kivo")),
                            QStringLiteral("s3cret-pw")};
    o.statementTimeoutMs = 1000;  // a lock may be waited for half a second
    // A table the last step changes, locked by a transaction left open.
    auto holder = std::make_unique<PgConnection>(
        PgConnection::Options{s_cluster->uri(QStringLiteral("older")), {}, 10});
    auto lock = std::make_unique<server::PgTransaction>(*holder);
    holder->exec("LOCK TABLE audit_events IN ACCESS EXCLUSIVE MODE");
    auto upgrade = std::async(std::launch::async, [&] {
        try {
            PgConnection db(o);
            server::PrepareServerSchema(db);
            return QStringLiteral("upgraded");
        } catch (const PgError& e) {
            return e.message;
        }
    });
    // An upgrade that waits for the holder does not end while it holds on.
    const bool ended = upgrade.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    EXPECT_TRUE(ended) << "the upgrade waits for the lock without end";
    if (ended) {
        EXPECT_EQ(upgrade.get(), server::UpgradeBlockedMessage());
        EXPECT_EQ(s_cluster->query(QStringLiteral("SELECT max(version) FROM kivo_schema"),
                                   QStringLiteral("older")),
                  QStringLiteral("3"));
        EXPECT_EQ(s_cluster->query(QStringLiteral("SELECT count(*) FROM pg_indexes WHERE "
                                                  "indexname = 'audit_events_of_bench'"),
                                   QStringLiteral("older")),
                  QStringLiteral("0"));
    }
    lock.reset();
    holder.reset();
    if (!ended) upgrade.wait();
    {
        PgConnection db(o);
        EXPECT_EQ(server::PrepareServerSchema(db), ended ? 3 : server::kServerSchemaVersion);
    }
    EXPECT_EQ(s_cluster->query(QStringLiteral("SELECT max(version) FROM kivo_schema"),
                               QStringLiteral("older")),
              QString::number(server::kServerSchemaVersion));
    EXPECT_EQ(s_cluster->query(QStringLiteral("SELECT string_agg(role_name, ',') FROM benches"),
                               QStringLiteral("older")),
              QStringLiteral("kivo_bench"));
    PgConnection db({s_cluster->uri(QStringLiteral("older"), QStringLiteral("kivo")),
                     QStringLiteral("s3cret-pw")});
    db.execScript("CREATE TABLE made_later (x integer)");
    EXPECT_EQ(db.exec("SELECT has_table_privilege('kivo_bench', 'made_later', 'INSERT')::text || "
                      "' ' || has_table_privilege('kivo_bench', 'made_later', 'SELECT')::text")
                  .text(0, 0),
              QStringLiteral("false true"));
}

// Failures to connect come out as one short Chinese cause each, never with the password, in
// the C locale as on an operator's Chinese desktop (where libpq and the C library translate
// their own words).
TEST_F(ServerSchema, ConnectFailuresAreNamedWithoutThePassword) {
    const struct {
        QString uri, password, message;
        PgError::Kind kind;
    } cases[] = {
        {s_cluster->uri(QStringLiteral("postgres"), QStringLiteral("kivo")),
         QStringLiteral("wrong-pw-123"), QStringLiteral("用户名或密码错误"),
         PgError::Kind::Authentication},
        {QStringLiteral("postgresql://kivo@127.0.0.1:1/kivo"), QStringLiteral("s3cret-pw"),
         QStringLiteral("服务器没有运行"), PgError::Kind::Unreachable},
        {QStringLiteral("postgresql://kivo@no-such-host.invalid/kivo"), QStringLiteral("x"),
         QStringLiteral("找不到服务器地址"), PgError::Kind::Unreachable},
        {s_cluster->uri(QStringLiteral("absent"), QStringLiteral("kivo")),
         QStringLiteral("s3cret-pw"), QStringLiteral("服务器上没有这个数据库"),
         PgError::Kind::Refused},
        {s_cluster->uri(QStringLiteral("postgres"), QStringLiteral("kivo")) +
             QStringLiteral("?sslmode=require"),
         QStringLiteral("s3cret-pw"), QStringLiteral("服务器不支持加密连接"),
         PgError::Kind::Refused},
    };
    const std::string was = setlocale(LC_ALL, nullptr);
    for (const char* language : {"C", "zh_CN.UTF-8"}) {
        // scripts/test makes the Chinese locale; a machine without it tests the C one only.
        if (!setlocale(LC_ALL, language)) continue;
        for (const auto& c : cases) {
            try {
                PgConnection db({c.uri, c.password, 3});
                ADD_FAILURE() << "connected: " << c.uri.toStdString();
            } catch (const PgError& e) {
                EXPECT_EQ(e.message, c.message) << language << ": " << e.detail.toStdString();
                EXPECT_EQ(e.kind, c.kind) << c.uri.toStdString();
                EXPECT_FALSE(e.detail.contains(c.password)) << e.detail.toStdString();
            }
        }
    }
    setlocale(LC_ALL, was.c_str());
}

// A header, a record and a poll read back from the server equal what went in, null texts
// (a channel not in use) and empty ones alike.
TEST_F(ServerSchema, RowsComeBackAsTheyWent) {
    auto db = freshDatabase(QStringLiteral("rows"));
    server::PrepareServerSchema(*db);
    archive::TestHeader h;
    h.uid = QStringLiteral("{a-b}");
    h.testDate = QStringLiteral("2026-12-8");
    h.startTime = QStringLiteral("08:05:09");
    h.startedAtMs = 1765000000123;
    h.user = QStringLiteral("admin");
    h.portName = QStringLiteral("COM1");
    h.portDevice = QStringLiteral("/dev/ttyUSB0");
    h.voltage = QStringLiteral("60");
    h.testMinutes = 360;
    h.recordInterval = 5;
    h.diameter = 95;
    h.tester = QStringLiteral("孙丽");
    h.organisation = QString();  // read back as ''
    h.specimenNo[3] = QStringLiteral("S-4");
    h.channelOff = {0, 1, 0, 0, 1, 0};
    h.programVersion = QStringLiteral("1.0.0");
    db->execScript(
        "INSERT INTO benches (id, host_name, port_name, port_device, usb_serial, "
        "program_version) VALUES (1, 'pc', 'COM1', '/dev/ttyUSB0', '', '1.0.0')");
    PgParams p;
    p.add(qint64{1});
    server::AddHeader(p, h);
    db->exec((QByteArray("INSERT INTO tests (bench_id, ") + server::kTestColumns + ") VALUES " +
              server::ValuesList(1, 1 + server::kTestColumnCount))
                 .constData(),
             p);
    archive::RecordRow r{3, std::nullopt, QStringLiteral("23.5"), 1765000001000, {}, {}};
    r.current[0] = QStringLiteral("12.50(mA)");
    r.charge[0] = QStringLiteral("");
    archive::PollRow poll{1765000002000, 7, QStringLiteral("60.0"), QString(), {}, {}};
    poll.charge[5] = QStringLiteral("1234.5(C)");
    PgParams rp;
    rp.add(h.uid).add(qint64{0});
    server::AddRecord(rp, r);
    db->exec((QByteArray("INSERT INTO records (test_uid, revision, ") + server::kRecordColumns +
              ") VALUES " + server::ValuesList(1, 2 + server::kRecordColumnCount))
                 .constData(),
             rp);
    PgParams pp;
    pp.add(h.uid).add(qint64{1});
    server::AddPoll(pp, poll);
    db->exec((QByteArray("INSERT INTO polls (test_uid, seq, ") + server::kPollColumns +
              ") VALUES " + server::ValuesList(1, 2 + server::kPollColumnCount))
                 .constData(),
             pp);

    archive::TestHeader expected = h;
    expected.organisation = QStringLiteral("");
    for (auto& s : expected.specimenNo)
        if (s.isNull()) s = QStringLiteral("");
    EXPECT_EQ(
        server::HeaderAt(
            db->exec((QByteArray("SELECT ") + server::kTestColumns + " FROM tests").constData()),
            0),
        expected);
    EXPECT_EQ(
        server::RecordAt(
            db->exec(
                (QByteArray("SELECT ") + server::kRecordColumns + " FROM records").constData()),
            0),
        r);
    EXPECT_EQ(
        server::PollAt(
            db->exec((QByteArray("SELECT ") + server::kPollColumns + " FROM polls").constData()),
            0),
        poll);
}

}  // namespace
