#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>

#include "accounts/login_dialog.h"
#include "app/kivo_app.h"
#include "archive/test_lock.h"
#include "archive_fixture.h"
#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"
#include "platform/program_folder.h"
#include "run/archived_run.h"
#include "run/param_dialog.h"
#include "run/recovered_test.h"
#include "run/recovery_offer.h"
#include "shell/modal_script.h"
#include "state/test_state.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"
#include "support/unique_uid.h"

namespace {

using archive::TestState;

const QString kUid = UniqueUid();

// A test of the archive whose program died while it ran.
struct DiedTest {
    QString uid, port, device, date, time;
    qint64 startedAtMs = 1;
    QString tester = QStringLiteral("李四");
    qint64 lastRecordAgoMs = 0;  // before kNowMs
};

// The tests' own clock: the time of the resume decisions they make. The records lie ahead of
// any wall clock the tests meet, so a decision on the wall clock (the instrument's answer to
// the window's own check) cannot tell anything by the time since.
constexpr qint64 kNowMs = 4'102'444'800'000;  // 2100-1-1

// The archive holds `died`: three records five minutes apart, the last at minute 15 of a
// 60-minute test.
void WriteInterruptedTest(const QString& path, const DiedTest& died) {
    archive::ArchiveWriter writer(
        path, [](const QString& message) { ADD_FAILURE() << message.toStdString(); });
    archive::TestHeader h;
    h.uid = died.uid;
    h.testDate = died.date;
    h.startTime = died.time;
    h.startedAtMs = died.startedAtMs;
    h.user = QStringLiteral("admin");
    h.portName = died.port;
    h.portDevice = died.device;
    h.voltage = QStringLiteral("60.0");
    h.testMinutes = 60;
    h.recordInterval = 5;
    h.diameter = 100;
    h.tester = died.tester;
    h.organisation = QStringLiteral("检测中心");
    for (int i = 0; i < 9; ++i) h.specimenNo[i] = QString("A%1").arg(i + 1);
    writer.beginTest(h);
    for (int n = 1; n <= 3; ++n) {
        archive::RecordRow r;
        r.number = n;
        r.minutes = 5 * n;
        r.temperature = QStringLiteral("24.0");
        r.atMs = kNowMs - died.lastRecordAgoMs - (3 - n) * 300000;
        for (int c = 0; c < 6; ++c) {
            r.current[c] = QString("%1.00(mA)").arg(100 + 10 * n + c);
            r.charge[c] = QString("%1.0(C)").arg(30 * n + c);
        }
        writer.addRecord(died.uid, r);
    }
    ASSERT_TRUE(writer.flush(30000));
}

const DiedTest kDied = {kUid, "COM1", "/dev/ttyUSB0", "2026-12-8", "08:05:09"};

class Recovery : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ProgramFolder::setForTests(m_dir.path());
        ResetTestStateForTests();
        UseNoPort();
        m_archivePath = m_dir.filePath(QStringLiteral("kivo.sqlite"));
        qputenv("KIVO_ARCHIVE", m_archivePath.toLocal8Bit());
        DiedTest died = kDied;
        died.lastRecordAgoMs = m_lastRecordAgoMs;
        WriteInterruptedTest(m_archivePath, died);
        ASSERT_TRUE(m_app.InitInstance());
    }
    void TearDown() override {
        m_app.ExitInstance();
        PumpOnce();
        LinkThreads::joinAll();
        ProgramFolder::setForTests(QString());
    }

    // "新建实验" with the login; the parameter dialog, when it comes, is accepted as it is.
    QStringList newTest() {
        ModalScript script;
        script
            .then<CLoginDlg>([](CLoginDlg* d) {
                static_cast<QLineEdit*>(d->item(CLoginDlg::IdPassword))->setText("579");
                static_cast<QPushButton*>(d->item(1))->click();
            })
            .then<CParamDlg>([](CParamDlg* d) { static_cast<QPushButton*>(d->item(1))->click(); });
        m_app.mainFrame()->OnCommand(CMainFrame::ID_NEW_TEST);
        return script.seen();
    }
    Testclass* form() const { return m_app.mainFrame()->testForm(); }
    archive::ArchivedTest archived(const QString& uid = kUid) const {
        if (auto writer = ArchiveSession::writer()) {
            EXPECT_TRUE(writer->flush(30000));
        }
        QString message;
        auto reader = archive::ArchiveReader::open(m_archivePath, &message);
        for (const auto& summary : reader->listTests())
            if (summary.uid == uid) return *reader->loadTest(summary.id);
        ADD_FAILURE() << "the test is gone";
        return {};
    }
    // True once no program holds the lock of `uid` (as 删除 and recovery find it).
    bool unlocked(const QString& uid) const {
        return PumpUntil(
            [&] { return archive::TestLock::tryAcquire(m_archivePath, uid) != nullptr; }, 5000);
    }
    // The recovered test, taken up with "恢复".
    Testclass* recover() {
        m_boxes.press({"恢复"});  // then OK to the port that is not there
        EXPECT_EQ(newTest(), QStringList{"CLoginDlg"});
        return form();
    }

    qint64 m_lastRecordAgoMs = 0;
    QTemporaryDir m_dir;
    QString m_archivePath;
    ScriptedMessageBoxes m_boxes;
    ScriptedFileDialogs m_files;  // every save is cancelled
    FakeRunLink m_link;
    MainFrameRecorder m_frame;
    CKivoApp m_app;
};

TEST_F(Recovery, RecoverTakesTheTestUpWhereItStood) {
    Testclass* f = recover();
    ASSERT_NE(f, nullptr);
    ASSERT_GE(m_boxes.shown().size(), 1u);
    const MessageBox::Request question = m_boxes.shown()[0].request;
    EXPECT_EQ(question.text,
              "COM1（/dev/ttyUSB0）上的实验未正常结束：开始于 2026-12-8 08:05:09，测试人 李四，"
              "测试单位 检测中心，已保存 3 条记录。\n\n"
              "恢复：接着进行这项实验。\n以后再说：现在不处理，下次新建实验时再问。\n"
              "放弃：将这项实验标为中断，已保存的记录保留。");
    EXPECT_EQ(question.buttons, MessageBox::Buttons::Choices);
    EXPECT_EQ(question.choices, (QStringList{"恢复(&R)", "以后再说(&L)", "放弃(&A)"}));
    EXPECT_EQ(question.choices[question.safeChoice], "以后再说(&L)");

    // The window shows the test as it was, with the test's own parameters.
    EXPECT_EQ(g_strTester, "李四");
    EXPECT_EQ(g_nTestMinutes, 60);
    EXPECT_EQ(f->historyRowCount(0), 3);
    EXPECT_EQ(f->historyCell(2, 2, HistoryColumn::Current), "132.00(mA)");
    EXPECT_EQ(f->historyCell(5, 2, HistoryColumn::RecordNo), "3");
    EXPECT_EQ(f->channelCellOnGui(1, ChannelColumn::Charge), "91.0(C)");
    EXPECT_EQ(f->itemTextOnGui(FormId::StartTime), "08:05:09");
    EXPECT_EQ(f->itemTextOnGui(FormId::TestDate), "2026-12-8");
    EXPECT_EQ(f->itemTextOnGui(FormId::RemainingMinutes), "45");
    EXPECT_EQ(g_nLastRecord.load(), 2u);
    EXPECT_FALSE(f->item(FormId::InitButton)->isEnabled());
    EXPECT_TRUE(f->started());

    // The first start only asks the instrument for its minute count.
    m_link.clear();
    f->OnStartTest();
    EXPECT_TRUE(m_link.commands().isEmpty());
    EXPECT_EQ(g_nCurCommand.load(), CMD_CHECK_MINUTES);
    EXPECT_FALSE(f->item(FormId::StartButton)->isEnabled());
    EXPECT_TRUE(ResumeCheckPending(*f));

    // At minute 15, the last record's, the channels are polled first; their charges, at the
    // recorded ones, say the instrument has kept running: the test goes on.
    EXPECT_EQ(f->link()->m_resumeChecked(*f, 15), ResumeDecision::ReadChargesFirst);
    EXPECT_TRUE(m_link.commands().isEmpty());
    EXPECT_TRUE(ResumeCheckPending(*f));
    EXPECT_EQ(f->link()->m_resumeChecked(*f, 15), ResumeDecision::Resume);
    EXPECT_EQ(m_link.commands(), QStringList{"01W071 1111"});
    EXPECT_EQ(f->itemTextOnGui(FormId::StartButton), "暂停");
    EXPECT_TRUE(f->item(FormId::StartButton)->isEnabled());
    EXPECT_FALSE(ResumeCheckPending(*f));
    EXPECT_EQ(f->itemTextOnGui(FormId::StartTime), "08:05:09");
    f->setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信正常"));
    f->OnRecordSample();
    EXPECT_EQ(f->historyCell(0, 3, HistoryColumn::RecordNo), "4");

    const archive::ArchivedTest test = archived();
    EXPECT_EQ(test.state, TestState::Running);
    ASSERT_EQ(test.records.size(), 4u);
    EXPECT_EQ(test.records[3].number, 4);
}

TEST_F(Recovery, AnInstrumentThatWasRestartedCannotGoOn) {
    Testclass* f = recover();
    ASSERT_NE(f, nullptr);
    f->OnStartTest();
    m_boxes.clear();
    EXPECT_EQ(DecideResume(*f, 14, kNowMs), ResumeDecision::Refuse);  // below the last record's 15
    EXPECT_EQ(m_boxes.texts(),
              QStringList{"仪器已重新启动，无法继续原实验；已保存的记录可以导出。"});
    EXPECT_TRUE(m_link.commands().isEmpty());
    EXPECT_FALSE(f->item(FormId::StartButton)->isEnabled());
    EXPECT_FALSE(f->item(FormId::InitButton)->isEnabled());
    EXPECT_TRUE(f->item(FormId::SaveText)->isEnabled());
    EXPECT_TRUE(f->item(FormId::CloseTest)->isEnabled());
    EXPECT_EQ(archived().state, TestState::Interrupted);
}

// Switched off and on, then run on past the last record's minute count as far as the time
// since allows: the count cannot tell, the charges polled before resuming do.
TEST_F(Recovery, AnInstrumentRestartedAndRunPastTheLastCountIsToldByItsCharges) {
    Testclass* f = recover();
    ASSERT_NE(f, nullptr);
    f->OnStartTest();
    m_boxes.clear();
    EXPECT_EQ(DecideResume(*f, 16, kNowMs), ResumeDecision::ReadChargesFirst);
    f->setChannelCellOnGui(1, ChannelColumn::Charge, QStringLiteral("40.0(C)"));  // 91.0 before
    EXPECT_EQ(DecideResume(*f, 16, kNowMs), ResumeDecision::Refuse);
    EXPECT_EQ(m_boxes.texts(),
              QStringList{"仪器已重新启动，无法继续原实验；已保存的记录可以导出。"});
    EXPECT_TRUE(m_link.commands().isEmpty());
    EXPECT_FALSE(f->item(FormId::StartButton)->isEnabled());
    EXPECT_EQ(archived().state, TestState::Interrupted);
}

// The program died 50 minutes after the test's last record.
class RecoveryLate : public Recovery {
  protected:
    RecoveryLate() { m_lastRecordAgoMs = 50 * 60000; }
};

TEST_F(RecoveryLate, AnInstrumentThatFinishedMeanwhileIsFinishedAtOnce) {
    Testclass* f = recover();
    ASSERT_NE(f, nullptr);
    f->OnStartTest();
    EXPECT_EQ(DecideResume(*f, 60, kNowMs), ResumeDecision::ReadChargesFirst);
    EXPECT_EQ(DecideResume(*f, 60, kNowMs), ResumeDecision::FinishNow);
    EXPECT_TRUE(m_link.commands().isEmpty());  // no start: it would start the instrument afresh
}

// Fifty minutes on, a count of 20 is an instrument switched on again since: the count and the
// time tell without a poll, though the window's charges are still the recorded ones.
TEST_F(RecoveryLate, AnInstrumentRestartedAndRunPastTheLastCountIsToldByTheTimeSince) {
    Testclass* f = recover();
    ASSERT_NE(f, nullptr);
    f->OnStartTest();
    m_boxes.clear();
    EXPECT_EQ(DecideResume(*f, 20, kNowMs), ResumeDecision::Refuse);
    EXPECT_EQ(m_boxes.texts(),
              QStringList{"仪器已重新启动，无法继续原实验；已保存的记录可以导出。"});
    EXPECT_TRUE(m_link.commands().isEmpty());
    EXPECT_EQ(archived().state, TestState::Interrupted);
}

TEST_F(Recovery, AbandonMarksTheTestInterruptedAndFreesItAtOnceForDeletion) {
    m_boxes.press({"放弃"});
    EXPECT_EQ(newTest(), (QStringList{"CLoginDlg", "CParamDlg"}));
    ASSERT_NE(form(), nullptr);
    EXPECT_EQ(form()->historyRowCount(0), 0);
    EXPECT_TRUE(form()->item(FormId::InitButton)->isEnabled());
    EXPECT_TRUE(unlocked(kUid));
    const archive::ArchivedTest test = archived();
    EXPECT_EQ(test.state, TestState::Interrupted);
    EXPECT_EQ(test.records.size(), 3u);
}

// Tests of two other benches died too. Each question names its bench, newest first; 以后再说
// leaves a test as it was for the next 新建实验, 恢复 leaves the tests not yet asked about.
TEST_F(Recovery, SeveralUnfinishedTestsAreAskedAboutNewestFirstEachWithItsBench) {
    const QString second = UniqueUid();
    const QString third = UniqueUid();
    WriteInterruptedTest(m_archivePath,
                         {second, "COM2", "/dev/ttyUSB1", "2026-12-8", "09:30:00", 2, "王五"});
    WriteInterruptedTest(m_archivePath, {third, "COM3", "", "2026-12-8", "10:00:00", 3, ""});

    m_boxes.press({"以后再说", "恢复"});
    EXPECT_EQ(newTest(), QStringList{"CLoginDlg"});
    ASSERT_NE(form(), nullptr);
    EXPECT_EQ(ArchivedRun::uid(), second);
    EXPECT_EQ(g_strTester, "王五");
    QStringList asked = m_boxes.texts().mid(0, 2);
    for (QString& text : asked) text = text.section(QStringLiteral("，已保存"), 0, 0);
    EXPECT_EQ(asked,
              (QStringList{"COM3上的实验未正常结束：开始于 2026-12-8 10:00:00，测试单位 检测中心",
                           "COM2（/dev/ttyUSB1）上的实验未正常结束：开始于 2026-12-8 "
                           "09:30:00，测试人 王五，测试单位 检测中心"}));
    for (const QString& uid : {third, kUid}) {  // as they were
        EXPECT_EQ(archived(uid).state, TestState::Running);
        EXPECT_TRUE(StatesOf(archived(uid)).empty());
    }

    // The next question, here or in another copy: the test taken up is this window's now.
    m_boxes.clear();
    m_boxes.press({"放弃", "以后再说"});
    EXPECT_FALSE(OfferRecovery(nullptr).has_value());
    ASSERT_EQ(m_boxes.count(), 2);
    EXPECT_TRUE(m_boxes.texts()[0].startsWith("COM3上的"));
    EXPECT_TRUE(m_boxes.texts()[1].startsWith("COM1（/dev/ttyUSB0）上的"));
    EXPECT_EQ(archived(third).state, TestState::Interrupted);
    EXPECT_EQ(archived(kUid).state, TestState::Running);
    EXPECT_TRUE(unlocked(third));
    EXPECT_TRUE(unlocked(kUid));
}

TEST_F(Recovery, ATestAnotherProgramRunsIsNotOffered) {
    std::unique_ptr<archive::TestLock> other = archive::TestLock::tryAcquire(m_archivePath, kUid);
    ASSERT_TRUE(other);
    EXPECT_EQ(newTest(), (QStringList{"CLoginDlg", "CParamDlg"}));
    for (const QString& text : m_boxes.texts()) EXPECT_FALSE(text.contains("未正常结束"));
    EXPECT_EQ(archived().state, TestState::Running);
}

}  // namespace
