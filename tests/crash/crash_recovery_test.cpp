// A copy of the program killed mid-test while the instrument runs on, then the program
// started again on the same archive and instrument: the test is taken up, and it either runs
// to its end with every record, or cannot go on (the instrument was restarted), or ends at once
// (the instrument reached the duration meanwhile).

#include <QDateTime>
#include <algorithm>

#include "export/report_plan.h"
#include "history/history_window.h"
#include "history/test_list_model.h"
#include "program_on_archive.h"
#include "run/recovery_offer.h"
#include "run/resume_decision.h"

namespace {

using archive::TestState;

// The channel requests of one poll, in the order the command cycle makes them.
const QStringList kChannelPoll = {"10R010", "10R060", "11R010", "11R060", "12R010", "12R060",
                                  "13R010", "13R060", "14R010", "14R060", "15R010", "15R060"};

QStringList Writes(const QStringList& requests) {
    QStringList writes;
    for (const QString& r : requests)
        if (r.size() > 2 && r[2] == 'W') writes << r;
    return writes;
}

QByteArray Bytes(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

class CrashRecovery : public ProgramOnArchive {
  protected:
    // A child runs a test of `minutes` until its form shows `records` records and the archive
    // holds them (how soon a commit follows is the archive benchmark's, not a test's); then it
    // is killed. The test as the archive holds it after the kill.
    archive::ArchivedTest runAndKill(int minutes, int records) {
        auto child = startChild(link(), minutes, false);
        EXPECT_TRUE(child->waitForLine("started", 60000));
        EXPECT_TRUE(child->waitForLine("shown " + QByteArray::number(records), 60000));
        EXPECT_TRUE(waitForRecords(records));
        child->kill();
        child->wait();
        EXPECT_TRUE(child->killedBySignal());
        const archive::ArchivedTest test = onlyTest();
        EXPECT_EQ(test.state, TestState::Running);
        EXPECT_FALSE(test.closed);
        EXPECT_GE(test.records.size(), size_t(records));
        if (test.records.size() >= size_t(records)) {
            EXPECT_EQ(test.records[size_t(records) - 1].number, records);
        }
        return test;
    }

    // The program started again; "新建实验" and the login, the recovery question answered
    // 恢复: the test window shows the test as it was, waiting for "开始实验".
    void recover(const archive::ArchivedTest& killed) {
        startProgram(link(), kSpeed);
        m_boxes.press({"恢复"});
        ASSERT_EQ(logIn(), QStringList{"CLoginDlg"});  // no parameter dialog
        ASSERT_NE(form(), nullptr);
        ASSERT_GE(m_boxes.count(), 1);
        EXPECT_EQ(m_boxes.texts().first(), RecoveryQuestion(killed));
        EXPECT_TRUE(m_boxes.texts().first().startsWith(
            QStringLiteral("COM1（%1）上的实验未正常结束").arg(killed.header.portDevice)));
        EXPECT_EQ(ArchivedRun::uid(), killed.header.uid);
        EXPECT_FALSE(form()->item(FormId::InitButton)->isEnabled());
        EXPECT_EQ(form()->historyRowCount(0), int(killed.records.size()));
        EXPECT_EQ(field(FormId::StartTime), killed.header.startTime);
    }

    void expectRestartRefuses(int records, const QStringList& asked);

    // Every history list of the window holds the archive's records, row for row.
    void expectWindowHolds(const std::vector<archive::RecordRow>& records) {
        for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
            const QStringList rows = historyRows(slot);
            ASSERT_EQ(rows.size(), qsizetype(records.size())) << slot;
            for (std::size_t r = 0; r < records.size(); ++r)
                EXPECT_EQ(rows[r], RecordText(records[r], slot)) << slot << "/" << r;
        }
    }

    // The text data file holds the archive's records, line for line.
    void expectTextDataHolds(const QString& file, const std::vector<archive::RecordRow>& records) {
        const QStringList lines = readTextData(file);
        ASSERT_EQ(lines.size(), qsizetype(records.size()) + 1);
        for (std::size_t r = 0; r < records.size(); ++r) {
            QString expected;
            for (int slot = 0; slot < CHANNELS_IN_USE; ++slot)
                expected += RecordText(records[r], slot) + ":";
            EXPECT_EQ(lines[r + 1], expected) << r;
        }
    }
};

TEST_F(CrashRecovery, AKilledTestIsTakenUpAndEndsWithEveryRecordInTheArchiveAndTheExports) {
    constexpr int kMinutes = 20;
    startInstrument();
    const archive::ArchivedTest killed = runAndKill(kMinutes, 4);
    ASSERT_GE(killed.records.size(), 4u);

    recover(killed);
    ASSERT_FALSE(HasFatalFailure());
    const QString charts = path(QStringLiteral("恢复.bmp"));
    const QString report = path(QStringLiteral("恢复.xls"));
    m_files.answer({charts, report});
    m_boxes.answer({MessageBox::Ok, m_office ? MessageBox::Ok : MessageBox::Cancel});
    click(FormId::StartButton);
    ASSERT_TRUE(waitForTestEnd(3, 120000));
    EXPECT_EQ(m_boxes.texts(), (QStringList{RecoveryQuestion(killed), "请确认是否保存图片！",
                                            "请确认是否保存数据！"}));
    EXPECT_EQ(field(FormId::RemainingMinutes), "完成");
    EXPECT_EQ(ArchivedRun::uid(), killed.header.uid);
    const QString data = path(QStringLiteral("恢复.bln"));
    m_files.answer({data});
    click(FormId::SaveText);

    // The archive: the same test, its records before the kill as they were, numbered on
    // without a gap, each channel's charge never falling, ended by the minute count.
    const archive::ArchivedTest test = onlyTest();
    EXPECT_EQ(test.header, killed.header);
    EXPECT_EQ(StatesOf(test),
              (std::vector{TestState::Running, TestState::Running, TestState::FinishedByMinutes}));
    ASSERT_GT(test.records.size(), killed.records.size());
    EXPECT_TRUE(std::equal(killed.records.begin(), killed.records.end(), test.records.begin()));
    for (std::size_t r = 0; r < test.records.size(); ++r) {
        EXPECT_EQ(test.records[r].number, int(r) + 1);
        ASSERT_TRUE(test.records[r].minutes.has_value()) << r;
        if (r == 0) continue;
        EXPECT_GE(*test.records[r].minutes, *test.records[r - 1].minutes) << r;
        for (int slot = 0; slot < CHANNELS_IN_USE; ++slot)
            EXPECT_GE(ChargeValue(test.records[r].charge[slot]),
                      ChargeValue(test.records[r - 1].charge[slot]))
                << "channel " << slot + 1 << ", record " << r + 1;
    }
    EXPECT_GE(*test.records.back().minutes, kMinutes);
    expectWindowHolds(test.records);
    expectTextDataHolds(data, test.records);

    // The instrument was initialised once, by the killed copy: the recovered start only
    // started it again, and the end stopped it.
    EXPECT_EQ(Writes(m_instrument->requests()),
              (QStringList{"00W070 1111", "01W071 1111", "01W071 1111", "00W071 0000"}));

    // The bitmaps are those that the archive's records draw: the test opened from the
    // history window in view mode saves the same files.
    ASSERT_TRUE(closeTestWindow());
    frame()->OnHistory();
    HistoryWindow* history = frame()->historyWindow();
    ASSERT_EQ(history->model()->rowCount(), 1);
    ASSERT_TRUE(history->selectTest(history->model()->test(0).id));
    history->openSelected();
    ASSERT_NE(form(), nullptr);
    m_files.answer({path(QStringLiteral("档案.bmp"))});
    click(FormId::SaveChart);
    for (int channel = 1; channel <= 9; ++channel) {
        const QByteArray live = Bytes(path(QStringLiteral("恢复通道%1.bmp").arg(channel)));
        EXPECT_GT(live.size(), 1000) << channel;
        EXPECT_TRUE(Bytes(path(QStringLiteral("档案通道%1.bmp").arg(channel))) == live)
            << "channel " << channel;
    }
    closeProgram(false);  // a test in view mode asks for no password
    EXPECT_EQ(onlyTest().state, TestState::FinishedByMinutes);

    if (!m_office) GTEST_SKIP() << "built without the office: the report is not written";
    const QJsonObject book = readWorkbook(report);
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
        const QJsonObject sheet = book[ChannelSheetName(slot + 1)].toObject();
        for (std::size_t r = 0; r < test.records.size(); ++r) {
            const QString row = QString::number(r + 2);
            EXPECT_EQ(QString::number(sheet["A" + row].toDouble()) + "+" +
                          sheet["B" + row].toString() + "+" + sheet["C" + row].toString(),
                      RecordText(test.records[r], slot))
                << slot << "/" << r;
        }
        EXPECT_FALSE(sheet.contains("A" + QString::number(test.records.size() + 2)));
    }
}

// A child killed once the archive holds `records` records (one: at minute 0); the instrument
// switched off and on (its minute count and charges start again from nothing); the program
// started again: the test is refused after `asked` reached the restarted instrument, and its
// records are saved.
void CrashRecovery::expectRestartRefuses(int records, const QStringList& asked) {
    startInstrument();
    const archive::ArchivedTest killed = runAndKill(10, records);
    const ResumePoint last = ResumePointOf(killed);
    if (records > 1) {
        ASSERT_GT(last.minutes.value_or(0), 0);
    } else {
        ASSERT_EQ(last.minutes.value_or(0), 0);
        ASSERT_GT(last.charges[0].value_or(0), 0.0);
    }
    m_instrument.reset();
    startInstrument(QStringLiteral("restarted.log"));

    recover(killed);
    ASSERT_FALSE(HasFatalFailure());
    click(FormId::StartButton);
    ASSERT_TRUE(PumpUntil([&] { return m_boxes.count() >= 2; }, 20000));
    EXPECT_EQ(m_boxes.texts(),
              (QStringList{RecoveryQuestion(killed),
                           "仪器已重新启动，无法继续原实验；已保存的记录可以导出。"}));
    PumpFor(500);
    EXPECT_EQ(m_boxes.count(), 2);
    EXPECT_FALSE(form()->item(FormId::StartButton)->isEnabled());
    EXPECT_FALSE(form()->item(FormId::InitButton)->isEnabled());
    for (int id : {FormId::SaveText, FormId::SaveChart, FormId::SaveExcel, FormId::CloseTest})
        EXPECT_TRUE(form()->item(id)->isEnabled()) << id;
    EXPECT_EQ(m_instrument->requests(), asked);

    const QString data = path(QStringLiteral("已保存.bln"));
    m_files.answer({data, path(QStringLiteral("已保存.bmp"))});
    click(FormId::SaveText);
    click(FormId::SaveChart);
    expectTextDataHolds(data, killed.records);
    for (int channel = 1; channel <= 9; ++channel)
        EXPECT_TRUE(QFile::exists(path(QStringLiteral("已保存通道%1.bmp").arg(channel))));
    expectWindowHolds(killed.records);
    ASSERT_TRUE(closeTestWindow());

    const archive::ArchivedTest test = onlyTest();
    EXPECT_EQ(test.records, killed.records);
    EXPECT_EQ(StatesOf(test),
              (std::vector{TestState::Running, TestState::Interrupted, TestState::Closed}));
    EXPECT_TRUE(test.closed);
    closeProgram(false);
}

// Records past minute 0: the restarted instrument's count is below the last record's, and
// nothing but the question of the count reaches it.
TEST_F(CrashRecovery, AnInstrumentRestartedMeanwhileRefusesTheTestAndItsRecordsAreStillSaved) {
    expectRestartRefuses(3, QStringList{"00R031"});
}

// The only record at minute 0: the count cannot tell, the charges read once do.
TEST_F(CrashRecovery, AnInstrumentRestartedAfterAFirstRecordAtMinuteZeroIsToldByItsCharges) {
    expectRestartRefuses(1, QStringList{"00R031"} + kChannelPoll);
}

TEST_F(CrashRecovery, AnInstrumentThatReachedTheDurationMeanwhileIsReadOnceAndFinished) {
    constexpr int kMinutes = 4;
    startInstrument();
    const archive::ArchivedTest killed = runAndKill(kMinutes, 2);
    // The instrument runs on past the test's duration while no program watches it.
    const archive::RecordRow& last = killed.records.back();
    ASSERT_TRUE(last.minutes.has_value());
    const auto instrumentMinutes = [&] {
        return *last.minutes +
               double(QDateTime::currentMSecsSinceEpoch() - last.atMs) * kSpeed / 60000.0;
    };
    ASSERT_TRUE(WaitUntil([&] { return instrumentMinutes() >= kMinutes + 1; }, 60000));
    const qsizetype before = m_instrument->requests().size();

    recover(killed);
    ASSERT_FALSE(HasFatalFailure());
    const QString charts = path(QStringLiteral("结束.bmp"));
    m_files.answer({charts});
    m_boxes.answer({MessageBox::Ok, MessageBox::Cancel});
    click(FormId::StartButton);
    ASSERT_TRUE(waitForTestEnd(3, 30000));
    EXPECT_EQ(m_boxes.texts(), (QStringList{RecoveryQuestion(killed), "请确认是否保存图片！",
                                            "请确认是否保存数据！"}));
    EXPECT_EQ(field(FormId::RemainingMinutes), "完成");

    // The minute count, one poll of the channels, the stop: no start command.
    EXPECT_EQ(m_instrument->requests().mid(before),
              QStringList{"00R031"} + kChannelPoll + QStringList{"00W071 0000"});
    const archive::ArchivedTest test = onlyTest();
    ASSERT_EQ(test.records.size(), killed.records.size() + 1);
    EXPECT_TRUE(std::equal(killed.records.begin(), killed.records.end(), test.records.begin()));
    EXPECT_EQ(test.records.back().number, int(test.records.size()));
    EXPECT_GE(test.records.back().minutes.value_or(0), kMinutes);
    EXPECT_EQ(StatesOf(test), (std::vector{TestState::Running, TestState::FinishedByMinutes}));
    expectWindowHolds(test.records);
    for (int channel = 1; channel <= 9; ++channel)
        EXPECT_TRUE(QFile::exists(path(QStringLiteral("结束通道%1.bmp").arg(channel))));
    closeProgram();
}

}  // namespace
