// The server checked instead of believed: a server restored from an older dump is caught up
// by itself and 删除 waits for it; a row that clashes with what the server holds is kept and
// counted; a test's states never reach the server ahead of its records.

#include <QFile>
#include <QTemporaryDir>

#include "archive/archive_writer.h"
#include "archive/audit_trail.h"
#include "server/deletion_check.h"
#include "server/server_schema.h"
#include "server_fixture.h"

namespace {

using namespace ServerTesting;
using server::ServerSender;

class CheckedServer : public ::testing::Test {
  protected:
    QString archive(const QString& name = QStringLiteral("kivo.sqlite")) const {
        return m_dir.filePath(name);
    }
    server::ServerSettings settings(const QString& database) const {
        server::ServerSettings s;
        s.uri = UriWithPassword(database);
        return s;
    }
    QTemporaryDir m_dir;
};

// The README's backup: a dump taken before test B was sent, restored after. The server keeps
// its identity, so the bench's marks say B is there; the bench finds out from the server's own
// account, sends B again by itself, and 删除 B is refused until B is whole on the server.
TEST_F(CheckedServer, RestoredFromAnOlderDumpIsCaughtUpAndDeletionWaits) {
    const QString database = FreshDatabase();
    WriteTest(archive(), Header(QStringLiteral("test-a"), QStringLiteral("/dev/ttyUSB0")), 6, 120);
    {
        ServerSender sender(archive(), {}, SenderOptions(UriWithPassword(database)));
        ASSERT_TRUE(WaitSynced(sender));
    }
    const QString dump = m_dir.filePath(QStringLiteral("kivo.dump"));
    ASSERT_EQ(RunClient(QStringLiteral("pg_dump"), {QStringLiteral("--format=custom"),
                                                    QStringLiteral("--file=") + dump, database}),
              QString());
    WriteTest(archive(), Header(QStringLiteral("test-b"), QStringLiteral("/dev/ttyUSB0")), 8, 200);
    {
        ServerSender sender(archive(), {}, SenderOptions(UriWithPassword(database)));
        ASSERT_TRUE(WaitSynced(sender));
    }
    EXPECT_EQ(server::WhyNotWholeOnServer(archive(), QStringLiteral("test-b"), settings(database)),
              QString());

    ASSERT_EQ(Cluster().sql(QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(database)),
              QString());
    ASSERT_EQ(RunClient(QStringLiteral("pg_restore"),
                        {QStringLiteral("--create"), QStringLiteral("--dbname=postgres"), dump}),
              QString());
    EXPECT_EQ(Count(database, QStringLiteral("SELECT count(*) FROM tests")), 1);
    EXPECT_EQ(server::WhyNotWholeOnServer(archive(), QStringLiteral("test-b"), settings(database)),
              QStringLiteral("这项实验还没有全部上传到实验室服务器（服务器上没有这项实验），"
                             "请等状态栏显示“已同步”后再删除。"));
    EXPECT_EQ(server::WhyNotWholeOnServer(archive(), QStringLiteral("test-a"), settings(database)),
              QString());

    ServerSender sender(archive(), {}, SenderOptions(UriWithPassword(database)));
    ASSERT_TRUE(PumpUntil(
        [&] {
            return server::WhyNotWholeOnServer(archive(), QStringLiteral("test-b"),
                                               settings(database))
                .isEmpty();
        },
        30000));
    ASSERT_TRUE(WaitSynced(sender));
    ExpectServerHolds(database, archive(), 2);

    // The same dump restored once more under the running bench (built aside, then put in
    // place): the server lacks B exactly as before, and B goes again once the bench connects
    // again.
    const QString aside = database + QStringLiteral("_r");
    ASSERT_EQ(Cluster().sql(QStringLiteral("CREATE DATABASE %1").arg(aside)), QString());
    ASSERT_EQ(RunClient(QStringLiteral("pg_restore"), {QStringLiteral("--dbname=") + aside, dump}),
              QString());
    ASSERT_EQ(Cluster().sql(QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(database)),
              QString());
    ASSERT_EQ(Cluster().sql(QStringLiteral("ALTER DATABASE %1 RENAME TO %2").arg(aside, database)),
              QString());
    // The bench finds its session gone when it next has something to send.
    WriteTest(archive(), Header(QStringLiteral("test-c"), QStringLiteral("/dev/ttyUSB0")), 1, 1);
    EXPECT_TRUE(PumpUntil(
        [&] {
            return server::WhyNotWholeOnServer(archive(), QStringLiteral("test-b"),
                                               settings(database))
                .isEmpty();
        },
        30000));
}

// A test under way across a restore from a dump taken before it started: the server lacks its
// header, so its next rows are refused (the foreign key as the owner, the row policy as a
// bench's role). The bench compares that test with the server's account and sends it again,
// header first, while another test of the bench goes too; the audit events sent after the
// dump are in no test's account and are caught up by the bench's account of its trail.
TEST_F(CheckedServer, ATestRunningAcrossARestoreGoesOnAndTheTrailIsCaughtUp) {
    const struct {
        QString role, password;  // empty: the owner
    } cases[] = {{{}, {}}, {QStringLiteral("kivo_bench_restored"), QStringLiteral("pw-r1")}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.role.toStdString());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kivo.sqlite"));
        const QString database = FreshDatabase();
        {
            server::PgConnection owner({UriWithPassword(database), {}, 10});
            server::PrepareServerSchema(owner);
        }
        if (!c.role.isEmpty()) {
            ASSERT_EQ(AddBenchRole(database, c.role, c.password), QString());
        }
        const QString uri = c.role.isEmpty() ? UriWithPassword(database)
                                             : UriWithPassword(database, c.role, c.password);
        WriteTest(path, Header(QStringLiteral("before"), QStringLiteral("/dev/ttyUSB0")), 3, 20);
        {
            ServerSender sender(path, {}, SenderOptions(uri));
            ASSERT_TRUE(WaitSynced(sender)) << sender.status().text().toStdString();
        }
        const QString dump = dir.filePath(QStringLiteral("kivo.dump"));
        ASSERT_EQ(
            RunClient(QStringLiteral("pg_dump"), {QStringLiteral("--format=custom"),
                                                  QStringLiteral("--file=") + dump, database}),
            QString());

        const archive::TestHeader header =
            Header(QStringLiteral("running"), QStringLiteral("/dev/ttyUSB0"));
        archive::ArchiveWriter writer(path, {});
        writer.beginTest(header);
        writer.changeState(header.uid, archive::TestState::Running, header.startedAtMs);
        for (int n = 1; n <= 3; ++n) writer.addRecord(header.uid, Record(n));
        for (int n = 1; n <= 30; ++n) writer.addPoll(header.uid, Poll(n));
        ASSERT_TRUE(writer.flush(10000));
        {
            archive::AuditTrail trail(path);
            archive::AuditEvent started;
            started.action = QStringLiteral("started");
            started.testUid = header.uid;
            started.user = QStringLiteral("admin");
            started.portName = header.portName;
            started.portDevice = header.portDevice;
            trail.record(started);
            ASSERT_TRUE(trail.flush(10000));
        }
        {
            ServerSender sender(path, {}, SenderOptions(uri));
            ASSERT_TRUE(WaitSynced(sender)) << sender.status().text().toStdString();
        }
        ASSERT_EQ(Count(database, QStringLiteral("SELECT count(*) FROM audit_events")), 1);

        ASSERT_EQ(Cluster().sql(QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(database)),
                  QString());
        ASSERT_EQ(
            RunClient(QStringLiteral("pg_restore"),
                      {QStringLiteral("--create"), QStringLiteral("--dbname=postgres"), dump}),
            QString());
        ASSERT_EQ(Count(database, QStringLiteral("SELECT count(*) FROM tests")), 1);

        ServerSender sender(path, {}, SenderOptions(uri));
        // The test goes on and finishes; another test of the bench comes after it.
        for (int n = 4; n <= 6; ++n) writer.addRecord(header.uid, Record(n));
        for (int n = 31; n <= 60; ++n) writer.addPoll(header.uid, Poll(n));
        writer.changeState(header.uid, archive::TestState::FinishedByMinutes,
                           header.startedAtMs + 30 * 60'000);
        writer.changeState(header.uid, archive::TestState::Closed,
                           header.startedAtMs + 31 * 60'000);
        const archive::TestHeader next =
            Header(QStringLiteral("after"), QStringLiteral("/dev/ttyUSB0"));
        writer.beginTest(next);
        writer.changeState(next.uid, archive::TestState::Running, next.startedAtMs);
        writer.addRecord(next.uid, Record(1));
        ASSERT_TRUE(writer.flush(10000));
        sender.wake();
        ASSERT_TRUE(WaitSynced(sender)) << sender.status().text().toStdString();
        ExpectServerHolds(database, path, 3);
    }
}

// 删除 asks the server at that moment: a test whose header is on the server but not all its
// records is refused with what is missing, however the server lost them (its polls are counted
// from its rows, not from the tally its triggers keep, which a truncation or a restore or
// change made without the triggers leaves standing); a server that cannot be asked refuses too.
TEST_F(CheckedServer, DeletionNamesWhatTheServerLacks) {
    WriteTest(archive(), Header(QStringLiteral("partial"), QStringLiteral("/dev/ttyUSB0")), 10, 60);
    const struct {
        const char* lost;  // as the owner, who alone may remove rows
        const char* missing;
    } cases[] = {
        {"DELETE FROM records WHERE number > 7; DELETE FROM polls WHERE seq > 50",
         "缺少记录 3 条、缺少轮询数据 10 条"},
        {"TRUNCATE polls", "缺少轮询数据 60 条"},
        {"SET session_replication_role = replica; DELETE FROM polls WHERE seq > 50",
         "缺少轮询数据 10 条"},
        {"SET session_replication_role = replica; UPDATE polls SET at_ms = at_ms + 1 "
         "WHERE seq = 5",
         "轮询数据"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lost);
        const QString database = FreshDatabase();
        {
            ServerSender sender(archive(), {}, SenderOptions(UriWithPassword(database)));
            ASSERT_TRUE(WaitSynced(sender));
        }
        EXPECT_EQ(server::WhyNotWholeOnServer(archive(), QStringLiteral("partial"),
                                              settings(database)),
                  QString());
        ASSERT_EQ(Cluster().sql(QString::fromUtf8(c.lost), database), QString());
        const QString why =
            server::WhyNotWholeOnServer(archive(), QStringLiteral("partial"), settings(database));
        EXPECT_TRUE(why.startsWith(QStringLiteral("这项实验还没有全部上传到实验室服务器（")) &&
                    why.contains(QString::fromUtf8(c.missing)))
            << why.toStdString();
    }
    EXPECT_EQ(
        server::WhyNotWholeOnServer(archive(), QStringLiteral("partial"),
                                    settings(FreshDatabase())),
        QStringLiteral("这项实验还没有全部上传到实验室服务器（服务器上没有这项实验），"
                       "请等状态栏显示“已同步”后再删除。"));
    server::ServerSettings nowhere;
    nowhere.uri = QStringLiteral("postgresql://kivo:x@127.0.0.1:1/kivo");
    EXPECT_EQ(server::WhyNotWholeOnServer(archive(), QStringLiteral("partial"), nowhere),
              QStringLiteral("无法向实验室服务器核对这项实验（服务器没有运行），实验没有删除。"));
}

// An archive damaged and made anew numbers a resumed test's polls from 1 and its revisions
// from 0 again: the server files the new polls after those it holds and a changed record as
// its next revision, so nothing is dropped; a poll that clashes with one the server holds at
// the same time is kept apart and counted in the status bar, and sent again once, not round
// after round.
TEST_F(CheckedServer, AnArchiveMadeAnewNeitherLosesNorClashesSilently) {
    const QString database = FreshDatabase();
    const archive::TestHeader header =
        Header(QStringLiteral("resumed"), QStringLiteral("/dev/ttyUSB0"));
    WriteTest(archive(), header, 5, 40);
    {
        ServerSender sender(archive(), {}, SenderOptions(UriWithPassword(database)));
        ASSERT_TRUE(WaitSynced(sender));
    }
    ASSERT_TRUE(QFile::rename(archive(), archive() + QStringLiteral(".damaged")));
    {
        archive::ArchiveWriter writer(archive(), {});
        writer.beginTest(header);
        writer.changeState(header.uid, archive::TestState::Running, header.startedAtMs);
        for (int n = 1; n <= 5; ++n)
            writer.addRecord(header.uid, Record(n, n == 3 ? QStringLiteral("!") : QString()));
        // Numbered 1 to 20 here: the polls taken after the resume.
        for (int n = 41; n <= 60; ++n) writer.addPoll(header.uid, Poll(n));
        archive::PollRow clash = Poll(10);
        clash.temperature = QStringLiteral("99.9");
        writer.addPoll(header.uid, clash);
        ASSERT_TRUE(writer.flush(10000));
    }
    // Every round checks the server's accounts, and the server counts how often it is asked.
    ASSERT_EQ(Cluster().sql(QStringLiteral("ALTER DATABASE %1 SET track_functions = 'all'")
                                .arg(database)),
              QString());
    const QString asked = QStringLiteral(
        "SELECT coalesce(sum(calls), 0) FROM pg_stat_user_functions "
        "WHERE funcname = 'kivo_test_accounts'");
    // Audit events the server keeps apart count too: this bench's, not those of another bench
    // that sends as the same role (though about this bench's test), nor those another role sent.
    ASSERT_EQ(Cluster().sql(
                  QStringLiteral(
                      "INSERT INTO benches (bench_uid, role_name, host_name, port_name, "
                      "port_device, usb_serial, program_version) VALUES "
                      "('another', '%1', 'PC-2', 'COM1', '/dev/ttyUSB0', '', '1.0'); "
                      "INSERT INTO audit_events (uid, bench_id, at_ms, user_name, action, detail) "
                      "SELECT e, b.id, 0, 'admin', 'login', '' FROM (VALUES ('e1', 'resumed'), "
                      "('e2', 'another'), ('e3', 'resumed')) v(e, t) "
                      "JOIN tests x ON x.uid = 'resumed' JOIN benches b ON "
                      "b.id = CASE WHEN v.t = 'resumed' THEN x.bench_id ELSE "
                      "(SELECT id FROM benches WHERE bench_uid = 'another') END; "
                      "INSERT INTO conflicts (table_name, row_key, test_uid, held, arrived, "
                      "sent_by) VALUES ('audit_events', 'e1', NULL, '{}', '{}', '%1'), "
                      "('audit_events', 'e2', NULL, '{}', '{}', '%1'), "
                      "('audit_events', 'e2', 'resumed', '{}', '{\"n\": 1}', '%1'), "
                      "('audit_events', 'e3', NULL, '{}', '{}', 'another_role')")
                      .arg(kRole),
                  database),
              QString());
    ServerSender::Options options = SenderOptions(UriWithPassword(database));
    options.reconcileMs = 0;
    std::vector<QString> seen;
    ServerSender sender(
        archive(), [&](const ServerSender::Status& s) { seen.push_back(s.text()); }, options);
    const QString counted = QStringLiteral("实验室服务器：2 条数据与服务器不一致");
    ASSERT_TRUE(PumpUntil([&] { return sender.status().text() == counted; }, 30000))
        << sender.status().text().toStdString();
    EXPECT_EQ(Cluster().query(QStringLiteral("SELECT string_agg(table_name || ' ' || row_key, "
                                             "', ') FROM conflicts WHERE table_name = 'polls'"),
                              database),
              QStringLiteral("polls resumed 21"));
    // Every poll the bench took, the earlier ones as they were first sent, the later ones
    // after them.
    EXPECT_EQ(Count(database, QStringLiteral("SELECT count(*) FROM polls")), 60);
    EXPECT_EQ(
        Cluster().query(QStringLiteral("SELECT temperature FROM polls WHERE seq = 10"), database),
        Poll(10).temperature);
    EXPECT_EQ(Cluster().query(QStringLiteral("SELECT min(seq) || ' ' || max(seq) FROM polls "
                                             "WHERE at_ms >= %1")
                                  .arg(Poll(41).atMs),
                              database),
              QStringLiteral("41 60"));
    // The changed record is the next revision; readers take it.
    EXPECT_EQ(Cluster().query(QStringLiteral("SELECT string_agg(revision || ' ' || temperature, "
                                             "', ' ORDER BY revision) FROM records "
                                             "WHERE number = 3"),
                              database),
              QStringLiteral("0 ") + Record(3).temperature + QStringLiteral(", 1 ") +
                  Record(3, QStringLiteral("!")).temperature);
    // Several more checks of the server's account: the clash is not sent round after round.
    const qint64 before = Count(database, asked);
    ASSERT_TRUE(PumpUntil([&] { return Count(database, asked) >= before + 3; }, 30000));
    EXPECT_EQ(sender.status().text(), counted);
    EXPECT_EQ(Count(database, QStringLiteral("SELECT count(*) FROM conflicts")), 5);
    EXPECT_EQ(Count(database, QStringLiteral("SELECT count(*) FROM polls")), 60);
}

// Records held up by a lock on the server while the test finishes and the program closes: the
// server shows the test finished only together with all its records.
TEST_F(CheckedServer, StatesNeverArriveAheadOfTheirRecords) {
    const QString database = FreshDatabase();
    const archive::TestHeader header =
        Header(QStringLiteral("blocked"), QStringLiteral("/dev/ttyUSB0"));
    archive::ArchiveWriter writer(archive(), {});
    writer.beginTest(header);
    writer.changeState(header.uid, archive::TestState::Running, header.startedAtMs);
    for (int n = 1; n <= 3; ++n) writer.addRecord(header.uid, Record(n));
    ASSERT_TRUE(writer.flush(10000));
    auto sender = std::make_unique<ServerSender>(archive(), ServerSender::StatusHandler{},
                                                 SenderOptions(UriWithPassword(database)));
    ASSERT_TRUE(WaitSynced(*sender));

    server::PgConnection holder = Superuser(database);
    auto lock = std::make_unique<server::PgTransaction>(holder);
    holder.exec("LOCK TABLE records IN SHARE ROW EXCLUSIVE MODE");
    for (int n = 4; n <= 8; ++n) writer.addRecord(header.uid, Record(n));
    writer.changeState(header.uid, archive::TestState::FinishedByMinutes,
                       header.startedAtMs + 40 * 60'000);
    writer.changeState(header.uid, archive::TestState::Closed, header.startedAtMs + 41 * 60'000);
    ASSERT_TRUE(writer.flush(10000));
    sender->wake();
    const QString shown = QStringLiteral(
        "SELECT (SELECT count(*) FROM state_changes WHERE state = 'finished_minutes') || ' ' || "
        "(SELECT count(DISTINCT number) FROM records)");
    ASSERT_TRUE(PumpUntil(
        [&] {
            return Count(database, QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE "
                                                  "wait_event_type = 'Lock'")) > 0;
        },
        30000));
    EXPECT_EQ(Cluster().query(shown, database), QStringLiteral("0 3"));
    sender.reset();  // the program closes
    lock.reset();    // the lock goes
    EXPECT_EQ(Cluster().query(shown, database), QStringLiteral("0 3"));

    ServerSender again(archive(), {}, SenderOptions(UriWithPassword(database)));
    ASSERT_TRUE(WaitSynced(again));
    EXPECT_EQ(Cluster().query(shown, database), QStringLiteral("1 8"));
}

}  // namespace
