// The server keeps each test's bench labels as they were when it started: two tests of one
// bench, started under different computer names, adapters and devices, are each read back
// under their own. Tests sent before the server kept labels, or read from a server older than
// that, show the bench row's.

#include <QTemporaryDir>

#include "server/server_inserts.h"
#include "server/server_reader.h"
#include "server/server_schema.h"
#include "server/server_upload.h"
#include "server_fixture.h"

namespace {

using namespace ServerTesting;

// What the history list shows for each test, by uid.
std::map<QString, QString> ListedBenches(server::PgConnection& db) {
    const server::ServerTestList list = server::ListServerTests(db);
    std::map<QString, QString> benches;
    for (size_t i = 0; i < list.tests.size(); ++i) benches[list.tests[i].uid] = list.benches[i];
    return benches;
}

TEST(StartLabels, EachTestIsReadBackUnderTheLabelsItStartedWith) {
    QTemporaryDir dir;
    const QString database = FreshDatabase();
    const QString path = dir.filePath(QStringLiteral("kivo.sqlite"));
    const struct {
        const char *uid, *host, *serial, *device;
    } started[] = {
        {"first", "PC-BEFORE", "SERIAL-1", "/dev/ttyUSB0"},
        {"renamed", "PC-AFTER", "SERIAL-1", "/dev/ttyUSB0"},
        {"swapped", "PC-AFTER", "SERIAL-2", "/dev/ttyUSB1"},
        // An archive that kept no labels: the test keeps none (this computer's name is only a
        // guess) and is shown under the bench row's.
        {"unkept", nullptr, nullptr, "/dev/ttyUSB0"},
    };
    const auto header = [&](size_t i) {
        archive::TestHeader h =
            Header(QString::fromLatin1(started[i].uid), QString::fromLatin1(started[i].device));
        h.startedAtMs += qint64(i);
        return h;
    };
    for (size_t i = 0; i < std::size(started); ++i) {
        const auto& s = started[i];
        WriteTest(path, header(i), 1, 2);
        if (!s.host) continue;
        archive::Connection db(path, SQLITE_OPEN_READWRITE);
        archive::Statement(db,
                           "INSERT INTO audit_event (uid, test_uid, at_ms, user_name, action, "
                           "detail, host_name, port_name, port_device, program_version, "
                           "usb_serial) VALUES (?1, ?1, 1, 'admin', 'started', '开始实验', ?2, "
                           "'COM1', ?3, '1.0.0', ?4)")
            .bind(1, QString::fromLatin1(s.uid))
            .bind(2, QString::fromLatin1(s.host))
            .bind(3, QString::fromLatin1(s.device))
            .bind(4, QString::fromLatin1(s.serial))
            .run();
    }
    {
        server::ServerSender sender(path, {}, SenderOptions(UriWithPassword(database)));
        ASSERT_TRUE(WaitSynced(sender)) << sender.status().text().toStdString();
    }
    server::PgConnection db({UriWithPassword(database), {}, 10});
    EXPECT_EQ(Count(database, QStringLiteral("SELECT count(DISTINCT bench_id) FROM tests")), 1);
    const std::map<QString, QString> listed = ListedBenches(db);
    for (const auto& s : started) {
        const QString uid = QString::fromLatin1(s.uid);
        EXPECT_EQ(listed.at(uid),
                  server::BenchText(QString::fromLatin1(s.host ? s.host : started[0].host),
                                    QStringLiteral("COM1"), QString::fromLatin1(s.device)))
            << s.uid;
        EXPECT_EQ(Cluster().query(QStringLiteral("SELECT coalesce(host_name, 'null') || ' ' || "
                                                 "coalesce(usb_serial, 'null') FROM tests "
                                                 "WHERE uid = '%1'")
                                      .arg(uid),
                                  database),
                  s.host ? QStringLiteral("%1 %2").arg(QString::fromLatin1(s.host),
                                                       QString::fromLatin1(s.serial))
                         : QStringLiteral("null null"))
            << s.uid;
    }

    // The header sent again from elsewhere with other labels (a shared archive's backlog) is
    // no clash, and the labels first kept stay.
    server::ServerUpload upload(db, QStringLiteral("another"), QStringLiteral("PC-ELSEWHERE"));
    upload.sendTest(header(0), {QStringLiteral("PC-ELSEWHERE"), QStringLiteral("SERIAL-9")});
    EXPECT_EQ(Count(database, QStringLiteral("SELECT count(*) FROM conflicts")), 0);
    EXPECT_EQ(ListedBenches(db).at(QStringLiteral("first")), listed.at(QStringLiteral("first")));
}

// A server of the version before the labels: the list reads it, under the bench row's labels,
// and after the upgrade the tests sent before keep them.
TEST(StartLabels, TestsOfAnOlderServerShowTheBenchRow) {
    const QString database = FreshDatabase();
    server::PgConnection db({UriWithPassword(database), {}, 10});
    server::PrepareServerSchema(db, server::kServerSchemaVersion - 1);
    const qint64 bench = server::InsertBench(
        db, {QStringLiteral("PC-1"), QStringLiteral("COM1"), QStringLiteral("/dev/ttyUSB0"),
             QStringLiteral("SERIAL-1"), QStringLiteral("1.0.0")});
    server::PgParams p;
    p.add(bench);
    server::AddHeader(p, Header(QStringLiteral("old"), QStringLiteral("/dev/ttyUSB3")));
    db.exec((QByteArray("INSERT INTO tests (bench_id, ") + server::kTestColumns + ") VALUES " +
             server::ValuesList(1, 1 + server::kTestColumnCount))
                .constData(),
            p);
    const QString shown = QStringLiteral("PC-1 COM1（/dev/ttyUSB3）");
    EXPECT_EQ(ListedBenches(db).at(QStringLiteral("old")), shown);
    server::PrepareServerSchema(db);
    EXPECT_EQ(ListedBenches(db).at(QStringLiteral("old")), shown);
}

}  // namespace
