// What a test hands the writer comes back from the reader exactly: its header, its state
// changes, its records, its polls in order, and the summary the test list shows.

#include "archive/archive_location.h"
#include "archive/archive_open.h"
#include "archive/sqlite_handle.h"
#include "archive_fixture.h"

namespace {

using namespace ArchiveTesting;

class ArchiveRoundTrip : public ArchiveTest {
  protected:
    // Counts rows of a table with a connection of the test's own.
    qint64 count(const char* sql) {
        try {
            Connection db(path(), SQLITE_OPEN_READONLY);
            return db.queryInt(sql);
        } catch (const SqlError&) {
            return -1;  // not made yet
        }
    }
};

TEST_F(ArchiveRoundTrip, EverythingHandedIsReadBackExactly) {
    Messages messages;
    TestHeader header = Header(QStringLiteral("a-uid"));
    header.specimenNo[4] = QString();  // a slot left empty reads back empty
    std::vector<RecordRow> records{Record(1), Record(2), Record(3)};
    records[1].minutes.reset();
    records[1].temperature = QLatin1String("");
    std::vector<PollRow> polls;
    for (int n = 0; n < 45; ++n) polls.push_back(Poll(n));
    polls[7].minutes.reset();
    polls[7].voltage = QString();
    {
        ArchiveWriter writer(path(), messages.handler());
        writer.beginTest(header);
        writer.changeState(header.uid, TestState::Running, 10);
        for (int n = 0; n < 45; ++n) {
            writer.addPoll(header.uid, polls[n]);
            if (n % 15 == 14) writer.addRecord(header.uid, records[n / 15]);
        }
        writer.changeState(header.uid, TestState::Paused, 20);
        writer.changeState(header.uid, TestState::Running, 30);
        writer.changeState(header.uid, TestState::FinishedByMinutes, 40);
        ASSERT_TRUE(writer.flush(30000));
    }
    EXPECT_TRUE(messages.all().isEmpty()) << messages.all().join('|').toStdString();

    QString message;
    auto reader = ArchiveReader::open(path(), &message);
    ASSERT_TRUE(reader) << message.toStdString();
    const std::vector<TestSummary> list = reader->listTests();
    ASSERT_EQ(list.size(), 1u);
    const std::optional<ArchivedTest> test = reader->loadTest(list[0].id);
    ASSERT_TRUE(test);
    header.specimenNo[4] = QLatin1String("");
    EXPECT_EQ(test->header, header);
    EXPECT_EQ(test->state, TestState::FinishedByMinutes);
    EXPECT_FALSE(test->closed);
    EXPECT_EQ(test->records, records);
    EXPECT_FALSE(test->records[1].minutes);
    EXPECT_FALSE(test->records[1].temperature.isNull());
    for (const RecordRow& r : test->records) {
        EXPECT_TRUE(r.current[5].isNull());  // channel 6 is not in use
        EXPECT_TRUE(r.charge[5].isNull());
    }
    const std::vector<StateChange> states{{TestState::Running, 10},
                                          {TestState::Paused, 20},
                                          {TestState::Running, 30},
                                          {TestState::FinishedByMinutes, 40}};
    EXPECT_EQ(test->states, states);
    const std::vector<PollRow> back = reader->polls(list[0].id);
    EXPECT_EQ(back, polls);
    ASSERT_EQ(back.size(), polls.size());
    EXPECT_TRUE(back[7].voltage.isNull());

    const TestSummary& s = list[0];
    EXPECT_EQ(s.uid, header.uid);
    EXPECT_EQ(s.testDate, header.testDate);
    EXPECT_EQ(s.startTime, header.startTime);
    EXPECT_EQ(s.tester, header.tester);
    EXPECT_EQ(s.organisation, header.organisation);
    EXPECT_EQ(s.testMinutes, 360);
    EXPECT_EQ(s.recordInterval, 5);
    EXPECT_EQ(s.diameter, 100);
    EXPECT_EQ(s.recordCount, 3);
    EXPECT_EQ(s.lastCharge, records[2].charge);
    EXPECT_EQ(s.channelOff, header.channelOff);
    EXPECT_EQ(s.startedAtMs, header.startedAtMs);
    EXPECT_EQ(s.changedAtMs, records[2].atMs);  // later than every state change here
    EXPECT_EQ(StateText(s.state), QStringLiteral("完成"));
}

TEST_F(ArchiveRoundTrip, TheListIsNewestFirstAndTellsUnfinishedTestsApart) {
    {
        ArchiveWriter writer(path(), {});
        for (int n = 1; n <= 5; ++n) writer.beginTest(Header(QString::number(n), n * 1000));
        writer.changeState("2", TestState::FinishedByInstrument, 2500);
        writer.changeState("2", TestState::Closed, 2600);  // a finished test keeps its ending
        writer.changeState("3", TestState::Closed, 3500);  // closed while running
        writer.changeState("4", TestState::CommFailure, 4500);
        writer.changeState("5", TestState::Interrupted, 5500);
        ASSERT_TRUE(writer.flush(30000));
    }
    auto reader = ArchiveReader::open(path(), nullptr);
    ASSERT_TRUE(reader);
    QStringList order, states;
    for (const TestSummary& s : reader->listTests()) {
        order << s.uid;
        states << StateText(s.state) + (s.closed ? "/closed" : "");
    }
    EXPECT_EQ(order, QStringList({"5", "4", "3", "2", "1"}));
    EXPECT_EQ(states,
              QStringList({"中断", "通信故障", "中断/closed", "仪器停止/closed", "运行中"}));
    QStringList unfinished;
    for (const TestSummary& s : reader->unfinishedTests()) unfinished << s.uid;
    EXPECT_EQ(unfinished, QStringList({"4", "1"}));
    const auto third = reader->loadTest(reader->listTests()[2].id);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->state, TestState::Closed);
    EXPECT_TRUE(third->closed);
}

TEST_F(ArchiveRoundTrip, ARecordHandedAgainReplacesItsFormerSelf) {
    RecordRow again = Record(2);
    again.charge[0] = QStringLiteral("999.9(C)");
    {
        ArchiveWriter writer(path(), {});
        writer.beginTest(Header("t"));
        writer.beginTest(Header("t", 5));  // the same test begun again keeps its row
        writer.addRecord("t", Record(1));
        writer.addRecord("t", Record(2));
        writer.addRecord("t", again);
        writer.addRecord("t", Record(1));
        writer.addRecord("unknown", Record(1));  // a test never begun is not made up
        ASSERT_TRUE(writer.flush(30000));
        EXPECT_FALSE(writer.failed());
    }
    auto reader = ArchiveReader::open(path(), nullptr);
    const auto list = reader->listTests();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].recordCount, 2);
    EXPECT_EQ(list[0].startedAtMs, Header("t").startedAtMs);
    EXPECT_EQ(list[0].lastCharge[0], QStringLiteral("999.9(C)"));
    EXPECT_EQ(reader->loadTest(list[0].id)->records, (std::vector{Record(1), again}));
}

TEST_F(ArchiveRoundTrip, ARecordGoesAheadOfWaitingPollsWhichWaitForABatch) {
    std::atomic<int> committed{0};
    std::atomic<qint64> pollsAtCommit{-1};
    ArchiveWriter::Options options;
    options.pollWaitMs = 3'600'000;  // here only a full batch writes polls
    options.onRecordCommitted = [&](const QString&, int number) {
        pollsAtCommit = count("SELECT count(*) FROM poll");
        committed = number;
    };
    ArchiveWriter writer(path(), {}, options);
    writer.beginTest(Header("t"));
    ASSERT_TRUE(writer.flush(30000));
    for (int n = 0; n < 3; ++n) writer.addPoll("t", Poll(n));
    writer.addRecord("t", Record(1));
    ASSERT_TRUE(WaitFor([&] { return committed == 1; }));
    EXPECT_EQ(pollsAtCommit, 0);  // the record did not wait behind the polls

    for (int n = 3; n < 3 + 11; ++n) writer.addPoll("t", Poll(n));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(count("SELECT count(*) FROM poll"), 0);
    writer.addPoll("t", Poll(14));
    EXPECT_TRUE(WaitFor([&] { return count("SELECT count(*) FROM poll") == 15; }));
    // In the order they were handed.
    EXPECT_EQ(count("SELECT count(*) FROM poll p JOIN poll q ON q.seq = p.seq + 1 "
                    "WHERE q.at_ms < p.at_ms"),
              0);
}

TEST_F(ArchiveRoundTrip, APollThatWaitedLongEnoughIsWrittenWithoutABatch) {
    ArchiveWriter::Options options;
    options.pollWaitMs = 100;
    ArchiveWriter writer(path(), {}, options);
    writer.beginTest(Header("t"));
    writer.addPoll("t", Poll(1));
    EXPECT_TRUE(WaitFor([&] { return count("SELECT count(*) FROM poll") == 1; }));
}

TEST_F(ArchiveRoundTrip, DeletingATestTakesEverythingOfIt) {
    {
        ArchiveWriter writer(path(), {});
        for (const char* uid : {"keep", "drop"}) {
            writer.beginTest(Header(uid));
            writer.changeState(uid, TestState::Paused, 1);
            writer.addRecord(uid, Record(1));
            writer.addPoll(uid, Poll(1));
        }
        ASSERT_TRUE(writer.flush(30000));
    }
    auto reader = ArchiveReader::open(path(), nullptr);
    const auto list = reader->listTests();
    const qint64 drop = list[0].uid == "drop" ? list[0].id : list[1].id;
    QString message;
    EXPECT_TRUE(reader->deleteTest("drop", &message)) << message.toStdString();
    EXPECT_TRUE(message.isEmpty());
    EXPECT_FALSE(reader->deleteTest("drop", &message));
    EXPECT_TRUE(message.contains(path()));
    ASSERT_EQ(reader->listTests().size(), 1u);
    for (const char* table : {"state_change", "record", "poll"})
        EXPECT_EQ(count(QByteArray("SELECT count(*) FROM ").append(table).constData()), 1) << table;
    EXPECT_FALSE(reader->loadTest(drop));
}

TEST_F(ArchiveRoundTrip, AnOpenedArchiveIsCrashSafeAndSharedWithTheGroup) {
    const OpenedArchive opened = OpenArchive(path());
    ASSERT_TRUE(opened.db) << opened.message.toStdString();
    EXPECT_EQ(opened.db->queryText("PRAGMA journal_mode"), "wal");
    EXPECT_EQ(opened.db->queryInt("PRAGMA synchronous"), 2);  // FULL
    EXPECT_EQ(opened.db->queryInt("PRAGMA foreign_keys"), 1);
    EXPECT_TRUE(QFile::permissions(path()) & QFile::WriteGroup);
}

TEST(ArchiveLocation, BesideTheProgramUnlessTheEnvironmentNamesAnother) {
    qunsetenv("KIVO_ARCHIVE");
    EXPECT_TRUE(ArchivePath().endsWith(QStringLiteral("/kivo.sqlite")));
    qputenv("KIVO_ARCHIVE", "/srv/lab/archive.sqlite");
    EXPECT_EQ(ArchivePath(), QStringLiteral("/srv/lab/archive.sqlite"));
    qunsetenv("KIVO_ARCHIVE");
}

}  // namespace
