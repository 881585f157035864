// Each bench sends as a role of its own, made with the packaging's script: it sends its own
// tests, and can write nothing else: not another bench's rows, not the schema, not the
// server's own tables, not through a function that runs with the owner's rights. The bench is
// the id kept beside its archive, whatever program version made its tests.

#include <QTemporaryDir>

#include "server/bench_uid.h"
#include "server/server_schema.h"
#include "server_fixture.h"

namespace {

using namespace ServerTesting;
using server::ServerSender;

TEST(BenchRoles, EachBenchWritesOnlyItsOwnRows) {
    QTemporaryDir dir;
    const QString database = FreshDatabase();
    {
        server::PgConnection owner({UriWithPassword(database), {}, 10});
        server::PrepareServerSchema(owner);
    }
    // A server that logs every statement, by each of its ways to: the bench's password is not
    // among them.
    const char* const logEverything[] = {"log_statement = 'all'", "log_min_duration_sample = 0",
                                         "log_statement_sample_rate = 1",
                                         "log_transaction_sample_rate = 1"};
    for (const char* setting : logEverything)
        ASSERT_EQ(Cluster().sql(QStringLiteral("ALTER SYSTEM SET %1").arg(setting)), QString());
    // And the plan of every query, with its text.
    for (const char* setting :
         {"session_preload_libraries = 'auto_explain'", "auto_explain.log_min_duration = 0"})
        ASSERT_EQ(Cluster().sql(QStringLiteral("ALTER DATABASE %1 SET %2").arg(database, setting)),
                  QString());
    ASSERT_EQ(Cluster().sql(QStringLiteral("SELECT pg_reload_conf()")), QString());
    ASSERT_TRUE(PumpUntil(
        [] { return Cluster().query(QStringLiteral("SHOW log_statement")) == "all"; }, 30000));
    ASSERT_EQ(AddBenchRole(database, QStringLiteral("kivo_bench_a"), QStringLiteral("pw-a'1")),
              QString());
    ASSERT_EQ(AddBenchRole(database, QStringLiteral("kivo_bench_b"), QStringLiteral("pw-b 2")),
              QString());
    ASSERT_EQ(AddBenchRole(database, QStringLiteral("kivo_bench_c"), QStringLiteral("pw-c\\:x'y")),
              QString());
    // The tables' owner is never made a bench (its rights would go, and the lab with them).
    EXPECT_NE(AddBenchRole(database, kRole, QStringLiteral("pw-owner")), QString());
    EXPECT_NO_THROW(server::PgConnection({UriWithPassword(database), {}, 10}));
    for (const char* setting : logEverything)
        ASSERT_EQ(Cluster().sql(QStringLiteral("ALTER SYSTEM RESET %1")
                                    .arg(QString::fromLatin1(setting).section(u' ', 0, 0))),
                  QString());
    for (const char* setting : {"session_preload_libraries", "auto_explain.log_min_duration"})
        ASSERT_EQ(Cluster().sql(QStringLiteral("ALTER DATABASE %1 RESET %2").arg(database, setting)),
                  QString());
    ASSERT_EQ(Cluster().sql(QStringLiteral("SELECT pg_reload_conf()")), QString());
    const QString log = Cluster().log();
    EXPECT_TRUE(log.contains(QStringLiteral("GRANT kivo_benches TO")));
    EXPECT_TRUE(log.contains(QStringLiteral("Query Text: SELECT set_config"))) << "plans logged";
    for (const char* password : {"pw-a", "pw-b", "pw-c", "pw-owner"})
        EXPECT_FALSE(log.contains(QString::fromLatin1(password))) << password;
    const QString a = dir.filePath(QStringLiteral("a.sqlite"));
    const QString b = dir.filePath(QStringLiteral("b.sqlite"));
    WriteTest(a, Header(QStringLiteral("test-a"), QStringLiteral("/dev/ttyUSB0")), 4, 30);
    WriteTest(b, Header(QStringLiteral("test-b"), QStringLiteral("/dev/ttyUSB1")), 5, 40);
    {
        ServerSender senderA(a, {},
                             SenderOptions(UriWithPassword(database, "kivo_bench_a", "pw-a'1")));
        ServerSender senderB(b, {},
                             SenderOptions(UriWithPassword(database, "kivo_bench_b", "pw-b%202")));
        ASSERT_TRUE(WaitSynced(senderA)) << senderA.status().text().toStdString();
        ASSERT_TRUE(WaitSynced(senderB)) << senderB.status().text().toStdString();
    }
    ExpectServerHolds(database, a, 1);
    const QString benchA = Cluster().query(
        QStringLiteral("SELECT bench_id FROM tests WHERE uid = 'test-a'"), database);
    const QString benchB = Cluster().query(
        QStringLiteral("SELECT bench_id FROM tests WHERE uid = 'test-b'"), database);

    server::PgConnection asB({UriWithPassword(database, "kivo_bench_b", "pw-b%202"), {}, 10});
    const QString forged[] = {
        // a higher revision of another bench's record, which readers would take
        QStringLiteral("INSERT INTO records (test_uid, number, revision, at_ms, temperature) "
                       "VALUES ('test-a', 1, 99, 0, 'forged')"),
        QStringLiteral("INSERT INTO polls (test_uid, seq, at_ms) VALUES ('test-a', 999, 0)"),
        QStringLiteral("INSERT INTO state_changes (test_uid, ordinal, state, at_ms) "
                       "VALUES ('test-a', 99, 'interrupted', 0)"),
        // keys the server holds for bench A, with other content: not even kept as a conflict
        QStringLiteral("INSERT INTO state_changes (test_uid, ordinal, state, at_ms) "
                       "VALUES ('test-a', 0, 'interrupted', 0)"),
        QStringLiteral("INSERT INTO state_changes (test_uid, ordinal, state, at_ms) "
                       "VALUES ('test-a', 1, 'interrupted', 0)"),
        // a schema from the future, which would shut every bench out
        QStringLiteral("INSERT INTO kivo_schema (version) VALUES (99)"),
        QStringLiteral("INSERT INTO kivo_server (uid) VALUES ('another')"),
        QStringLiteral("INSERT INTO audit_events (uid, bench_id, at_ms, user_name, action, "
                       "detail) VALUES ('forged', %1, 0, 'admin', 'deleted', 'x')")
            .arg(benchA),
        // an event of B's own bench filed against A's test: a deletion or an end it never saw
        QStringLiteral("INSERT INTO audit_events (uid, bench_id, test_uid, at_ms, user_name, "
                       "action, detail) VALUES ('forged-2', %1, 'test-a', 0, 'admin', "
                       "'deleted', 'x')")
            .arg(benchB),
        QStringLiteral("INSERT INTO audit_events (uid, bench_id, test_uid, at_ms, user_name, "
                       "action, detail) VALUES ('forged-3', %1, 'test-a', 0, 'admin', "
                       "'finished', 'x')")
            .arg(benchB),
        QStringLiteral("INSERT INTO benches (bench_uid, port_name, host_name, port_device, "
                       "usb_serial, program_version, role_name) "
                       "VALUES ('x', 'COM1', 'h', 'd', '', '', 'kivo_bench_a')"),
        QStringLiteral("INSERT INTO test_summaries SELECT * FROM test_summaries LIMIT 1"),
        QStringLiteral("UPDATE records SET temperature = '0'"),
        QStringLiteral("DELETE FROM polls"),
        QStringLiteral("TRUNCATE conflicts"),
        // the temporary-table trick on a function that runs with the owner's rights
        QStringLiteral("CREATE TEMP TABLE tests (uid text)"),
        QStringLiteral("SELECT kivo_sum_up_tests(ARRAY['test-a'])"),
        QStringLiteral("CREATE TABLE public.tests_copy (uid text)"),
    };
    for (const QString& statement : forged) {
        try {
            asB.execScript(statement.toUtf8().constData());
            ADD_FAILURE() << statement.toStdString();
        } catch (const server::PgError& e) {
            EXPECT_EQ(e.message, QStringLiteral("服务器上的账户权限不足"))
                << statement.toStdString();
        }
    }
    EXPECT_EQ(Count(database, QStringLiteral("SELECT count(*) FROM records WHERE revision = 99")),
              0);
    EXPECT_EQ(Count(database, QStringLiteral("SELECT max(version) FROM kivo_schema")),
              server::kServerSchemaVersion);
    EXPECT_EQ(Count(database, QStringLiteral("SELECT count(*) FROM audit_events")), 0);
    EXPECT_EQ(Count(database, QStringLiteral("SELECT count(*) FROM conflicts")), 0);
    ExpectServerHolds(database, a, 1);
    ExpectServerHolds(database, b, 1);
    // Reading another bench's test from the server and exporting it is noted, under B.
    asB.execScript(QStringLiteral("INSERT INTO audit_events (uid, bench_id, test_uid, at_ms, "
                                  "user_name, action, detail) VALUES ('read-1', %1, 'test-a', "
                                  "0, 'admin', 'csv_exported', 'x')")
                       .arg(benchB)
                       .toUtf8()
                       .constData());
    EXPECT_EQ(Count(database, QStringLiteral("SELECT count(*) FROM audit_events")), 1);

    // Tests B's bench sent before it had a role of its own (under the owner) stay its own: a
    // deletion of one is noted; one of another bench's older tests is not.
    for (const auto& [uid, benchUid] : {std::pair{"test-o-b", "b"}, std::pair{"test-o-a", "a"}}) {
        ASSERT_EQ(
            Cluster().sql(
                QStringLiteral(
                    "INSERT INTO benches (bench_uid, port_name, host_name, port_device, "
                    "usb_serial, program_version, role_name) SELECT bench_uid, 'COM9-%1', "
                    "host_name, port_device, usb_serial, program_version, "
                    "(SELECT tableowner FROM pg_tables WHERE tablename = 'audit_events') "
                    "FROM benches WHERE id = %2; "
                    "CREATE TEMP TABLE old_test AS SELECT * FROM tests WHERE uid = 'test-b'; "
                    "UPDATE old_test SET uid = '%1', bench_id = (SELECT id FROM benches "
                    "WHERE port_name = 'COM9-%1'); INSERT INTO tests SELECT * FROM old_test")
                    .arg(QString::fromLatin1(uid), benchUid == std::string("b") ? benchB : benchA),
                database),
            QString());
    }
    asB.execScript(QStringLiteral("INSERT INTO audit_events (uid, bench_id, test_uid, at_ms, "
                                  "user_name, action, detail) VALUES ('own-old', %1, 'test-o-b', "
                                  "0, 'admin', 'deleted', 'x')")
                       .arg(benchB)
                       .toUtf8()
                       .constData());
    EXPECT_THROW(asB.execScript(QStringLiteral("INSERT INTO audit_events (uid, bench_id, test_uid, "
                                               "at_ms, user_name, action, detail) VALUES "
                                               "('other-old', %1, 'test-o-a', 0, 'admin', "
                                               "'deleted', 'x')")
                                    .arg(benchB)
                                    .toUtf8()
                                    .constData()),
                 server::PgError);
    EXPECT_EQ(Count(database, QStringLiteral("SELECT count(*) FROM audit_events")), 2);
}

// Events the server refuses (a shared archive's 删除 of a test another bench sent), however
// many, hold up none of the bench's other events.
TEST(BenchRoles, AnEventTheServerRefusesHoldsUpNoneOfTheOthers) {
    QTemporaryDir dir;
    const QString database = FreshDatabase();
    {
        server::PgConnection owner({UriWithPassword(database), {}, 10});
        server::PrepareServerSchema(owner);
    }
    ASSERT_EQ(AddBenchRole(database, QStringLiteral("kivo_bench_a"), QStringLiteral("a")),
              QString());
    ASSERT_EQ(AddBenchRole(database, QStringLiteral("kivo_bench_b"), QStringLiteral("b")),
              QString());
    const QString a = dir.filePath(QStringLiteral("a.sqlite"));
    const QString b = dir.filePath(QStringLiteral("b.sqlite"));
    WriteTest(a, Header(QStringLiteral("test-a"), QStringLiteral("/dev/ttyUSB0")), 1, 1);
    WriteTest(b, Header(QStringLiteral("test-b"), QStringLiteral("/dev/ttyUSB1")), 1, 1);
    {
        ServerSender senderA(a, {}, SenderOptions(UriWithPassword(database, "kivo_bench_a", "a")));
        ASSERT_TRUE(WaitSynced(senderA)) << senderA.status().text().toStdString();
    }
    {
        archive::Connection db(b, SQLITE_OPEN_READWRITE);
        // More refused events than a round sends, all before the two the server takes.
        db.exec(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600) "
            "INSERT INTO audit_event (uid, test_uid, at_ms, user_name, action, detail, host_name, "
            "port_name, port_device, program_version, usb_serial) "
            "SELECT 'refused-' || i, 'test-a', i, 'admin', 'deleted', '删除实验', 'PC', 'COM2', "
            "'/dev/ttyUSB1', '1.0.0', '' FROM n");
        db.exec(
            "INSERT INTO audit_event (uid, test_uid, at_ms, user_name, action, detail, host_name, "
            "port_name, port_device, program_version, usb_serial) VALUES "
            "('of-its-test', 'test-b', 601, 'admin', 'exported', '导出', 'PC', 'COM2', "
            "'/dev/ttyUSB1', '1.0.0', ''), "
            "('of-no-test', NULL, 602, 'admin', 'login', '登录', 'PC', 'COM2', '/dev/ttyUSB1', "
            "'1.0.0', '')");
    }
    ServerSender senderB(b, {}, SenderOptions(UriWithPassword(database, "kivo_bench_b", "b")));
    const auto arrived = [&] {
        return Count(database, QStringLiteral("SELECT count(*) FROM audit_events WHERE uid IN "
                                              "('of-its-test', 'of-no-test')"));
    };
    EXPECT_TRUE(PumpUntil([&] { return arrived() == 2; }, 30000))
        << senderB.status().text().toStdString();
    EXPECT_EQ(Count(database, QStringLiteral("SELECT count(*) FROM audit_events WHERE uid LIKE "
                                             "'refused%'")),
              0);
    // The refusals keep the bench's session: it is not made again round after round (each
    // new one checking every settled test again).
    const auto sessionStart = [&] {
        return Count(database, QStringLiteral("SELECT coalesce(max((extract(epoch FROM "
                                              "backend_start) * 1e6)::bigint), 0) FROM "
                                              "pg_stat_activity WHERE usename = 'kivo_bench_b'"));
    };
    const auto refusals = [&] {
        return Count(database, QStringLiteral("SELECT xact_rollback FROM pg_stat_database "
                                              "WHERE datname = current_database()"));
    };
    const qint64 session = sessionStart();
    const qint64 refused = refusals();
    EXPECT_NE(session, 0);
    EXPECT_TRUE(PumpUntil([&] { return refusals() >= refused + 3; }, 30000));
    EXPECT_EQ(sessionStart(), session);
}

// The bench is the id beside its archive and the port: tests made by two program versions are
// one bench's, filed under that id. Its labels are those kept when the test started (the
// computer renamed and the adapter swapped before it was sent change nothing).
TEST(BenchRoles, TheBenchIsTheIdBesideTheArchive) {
    QTemporaryDir dir;
    const QString database = FreshDatabase();
    const QString path = dir.filePath(QStringLiteral("kivo.sqlite"));
    archive::TestHeader first = Header(QStringLiteral("v1"), QStringLiteral("/dev/ttyUSB0"));
    archive::TestHeader second = Header(QStringLiteral("v2"), QStringLiteral("/dev/ttyUSB0"));
    second.programVersion = QStringLiteral("1.1.0");
    WriteTest(path, first, 2, 10);
    WriteTest(path, second, 2, 10);
    {
        // The start of v1 as the audit trail kept it, on a computer and an adapter that are
        // no longer these.
        archive::Connection db(path, SQLITE_OPEN_READWRITE);
        db.exec(
            "INSERT INTO audit_event (uid, test_uid, at_ms, user_name, action, detail, "
            "host_name, port_name, port_device, program_version, usb_serial) VALUES "
            "('e1', 'v1', 1, 'admin', 'started', '开始实验', 'PC-AT-START', 'COM1', "
            "'/dev/ttyUSB0', '1.0.0', 'SERIAL-AT-START')");
    }
    const QString uid = server::BenchUid(path);
    ASSERT_FALSE(uid.isEmpty());
    EXPECT_EQ(server::BenchUid(path), uid);
    {
        ServerSender sender(path, {}, SenderOptions(UriWithPassword(database)));
        ASSERT_TRUE(WaitSynced(sender));
    }
    EXPECT_EQ(Cluster().query(QStringLiteral("SELECT count(DISTINCT t.bench_id) || ' ' || "
                                             "min(b.bench_uid) FROM tests t JOIN benches b "
                                             "ON b.id = t.bench_id"),
                              database),
              QStringLiteral("1 ") + uid);
    EXPECT_EQ(Cluster().query(QStringLiteral("SELECT host_name || ' ' || usb_serial FROM benches"),
                              database),
              QStringLiteral("PC-AT-START SERIAL-AT-START"));
}

}  // namespace
