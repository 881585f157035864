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
    ASSERT_EQ(AddBenchRole(database, QStringLiteral("kivo_bench_a"), QStringLiteral("pw-a'1")),
              QString());
    ASSERT_EQ(AddBenchRole(database, QStringLiteral("kivo_bench_b"), QStringLiteral("pw-b 2")),
              QString());
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
}

// The bench is the id beside its archive and the port: tests made by two program versions are
// one bench's, filed under that id.
TEST(BenchRoles, TheBenchIsTheIdBesideTheArchive) {
    QTemporaryDir dir;
    const QString database = FreshDatabase();
    const QString path = dir.filePath(QStringLiteral("kivo.sqlite"));
    archive::TestHeader first = Header(QStringLiteral("v1"), QStringLiteral("/dev/ttyUSB0"));
    archive::TestHeader second = Header(QStringLiteral("v2"), QStringLiteral("/dev/ttyUSB0"));
    second.programVersion = QStringLiteral("1.1.0");
    WriteTest(path, first, 2, 10);
    WriteTest(path, second, 2, 10);
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
}

}  // namespace
