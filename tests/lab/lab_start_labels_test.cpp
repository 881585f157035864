// The web pages show each test under the bench labels it started with, not those of the
// bench's first test.

#include "lab/lab_reads.h"
#include "server/server_fixture.h"
#include "server/server_reader.h"
#include "server/server_schema.h"
#include "server/server_upload.h"

namespace {

using namespace ServerTesting;

TEST(LabStartLabels, ListAndTestPageShowTheTestsOwnLabels) {
    const QString database = FreshDatabase();
    server::PgConnection db({UriWithPassword(database), {}, 10});
    server::PrepareServerSchema(db);
    const struct {
        const char *uid, *host, *device;
    } started[] = {
        {"first", "PC-BEFORE", "/dev/ttyUSB0"},
        {"renamed", "PC-AFTER", "/dev/ttyUSB1"},
    };
    server::ServerUpload upload(db, QStringLiteral("bench-1"), QStringLiteral("PC-NOW"));
    for (size_t i = 0; i < std::size(started); ++i) {
        archive::TestHeader h =
            Header(QString::fromLatin1(started[i].uid), QString::fromLatin1(started[i].device));
        h.startedAtMs += qint64(i);
        upload.sendTest(h, {QString::fromLatin1(started[i].host), QStringLiteral("SERIAL")});
    }
    const lab::LabTestList list = lab::ListLabTests(db, {});
    ASSERT_EQ(list.rows.size(), std::size(started));
    for (size_t i = 0; i < std::size(started); ++i) {
        const QString shown =
            server::BenchText(QString::fromLatin1(started[i].host), QStringLiteral("COM1"),
                              QString::fromLatin1(started[i].device));
        // Newest first.
        EXPECT_EQ(list.rows[std::size(started) - 1 - i].bench, shown) << started[i].uid;
        const auto page = lab::LoadLabTest(db, QString::fromLatin1(started[i].uid), GradingScheme{},
                                           QStringLiteral("https://lab"));
        ASSERT_TRUE(page) << started[i].uid;
        EXPECT_EQ(page->bench, shown) << started[i].uid;
    }
}

}  // namespace
