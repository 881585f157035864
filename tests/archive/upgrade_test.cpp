// An archive of an older program is brought up to date in place with its data; one of a newer
// program is refused and left as it is.

#include "archive/archive_open.h"
#include "archive/archive_schema.h"
#include "archive/sqlite_handle.h"
#include "archive_fixture.h"

namespace {

using namespace ArchiveTesting;

class ArchiveUpgrade : public ArchiveTest {};

// Fills a version-1 archive as a version-1 program did: two tests, records, state changes.
void FillVersion1(Connection& db) {
    db.exec(R"(
INSERT INTO test VALUES (1, 'old', '2025-3-1', '09:00:00', 1000, 'admin', 0, 'COM1',
  '/dev/ttyUSB0', '60', 360, 5, 100, '李工', '检测站', '', '', '', '', '', '', '', '', '',
  0, 0, 0, 0, 0, 1, '0.9', 'finished_minutes', 1);
INSERT INTO test VALUES (2, 'empty', '2025-3-2', '09:00:00', 2000, 'admin', 0, 'COM1',
  '/dev/ttyUSB0', '60', 360, 5, 100, '李工', '检测站', '', '', '', '', '', '', '', '', '',
  0, 0, 0, 0, 0, 0, '0.9', 'running', 0);
INSERT INTO record VALUES (1, 1, 5, '20.1', 301000, '1(mA)', '2(mA)', '3(mA)', '4(mA)', '5(mA)',
  NULL, '10(C)', '20(C)', '30(C)', '40(C)', '50(C)', NULL);
INSERT INTO record VALUES (1, 2, 10, '20.2', 601000, '1(mA)', '2(mA)', '3(mA)', '4(mA)', '5(mA)',
  NULL, '11(C)', '21(C)', '31(C)', '41(C)', '51(C)', NULL);
INSERT INTO state_change VALUES (1, 'running', 1000);
INSERT INTO state_change VALUES (1, 'finished_minutes', 900000);
INSERT INTO poll VALUES (1, 1, 3000, 0, '60.0', '20.0', '1(mA)', NULL, NULL, NULL, NULL, NULL,
  '0(C)', NULL, NULL, NULL, NULL, NULL);
)");
}

TEST_F(ArchiveUpgrade, AVersion1ArchiveIsUpgradedWithItsSummariesFilledIn) {
    {
        OpenedArchive v1 = OpenArchive(path(), kBusyTimeoutMs, 1);
        ASSERT_TRUE(v1.db) << v1.message.toStdString();
        ASSERT_EQ(ArchiveVersion(*v1.db), 1);
        FillVersion1(*v1.db);
    }
    Messages messages;
    {
        ArchiveWriter writer(path(), messages.handler());
        writer.addRecord("empty", Record(1));  // the summary now kept by the writer itself
        ASSERT_TRUE(writer.flush(30000));
    }
    EXPECT_TRUE(messages.all().isEmpty()) << messages.all().join('|').toStdString();
    {
        Connection db(path(), SQLITE_OPEN_READONLY);
        EXPECT_EQ(ArchiveVersion(db), kArchiveVersion);
        EXPECT_EQ(db.queryText("PRAGMA integrity_check"), "ok");
    }
    auto reader = ArchiveReader::open(path(), nullptr);
    ASSERT_TRUE(reader);
    const auto list = reader->listTests();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].uid, "empty");
    EXPECT_EQ(list[0].recordCount, 1);
    EXPECT_EQ(list[0].lastCharge, Record(1).charge);
    const TestSummary& old = list[1];
    EXPECT_EQ(old.recordCount, 2);
    EXPECT_EQ(old.lastCharge,
              (std::array<QString, 6>{"11(C)", "21(C)", "31(C)", "41(C)", "51(C)", QString()}));
    EXPECT_EQ(old.changedAtMs, 900000);
    EXPECT_EQ(old.state, TestState::FinishedByMinutes);
    EXPECT_TRUE(old.closed);

    const auto test = reader->loadTest(old.id);
    ASSERT_TRUE(test);
    EXPECT_EQ(test->header.tester, QStringLiteral("李工"));
    EXPECT_EQ(test->header.channelOff, (std::array<uint8_t, 6>{0, 0, 0, 0, 0, 1}));
    ASSERT_EQ(test->records.size(), 2u);
    EXPECT_EQ(test->records[1].temperature, "20.2");
    EXPECT_EQ(test->states.size(), 2u);
    ASSERT_EQ(reader->polls(old.id).size(), 1u);
    EXPECT_EQ(reader->polls(old.id)[0].current[0], "1(mA)");
}

TEST_F(ArchiveUpgrade, AnArchiveOfANewerProgramIsRefusedAndLeftAsItIs) {
    {
        Connection db(path(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        db.exec(
            "CREATE TABLE future (x); INSERT INTO future VALUES (42); PRAGMA user_version = 7;");
    }
    const QByteArray before = ReadFile(path());
    Messages messages;
    {
        ArchiveWriter writer(path(), messages.handler());
        writer.beginTest(Header("t"));
        writer.addRecord("t", Record(1));
        EXPECT_FALSE(writer.flush(10000));
        EXPECT_TRUE(writer.failed());
    }
    ASSERT_EQ(messages.all().size(), 1);
    const QString text = messages.all()[0];
    EXPECT_TRUE(text.contains(path())) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("较新版本"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("档案版本 7"))) << text.toStdString();

    QString message;
    EXPECT_FALSE(ArchiveReader::open(path(), &message));
    EXPECT_TRUE(message.contains(QStringLiteral("较新版本")));
    EXPECT_EQ(ReadFile(path()), before);
    EXPECT_FALSE(QFile::exists(path() + "-wal"));
}

}  // namespace
