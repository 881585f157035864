#include <gtest/gtest.h>

#include <QPointer>
#include <QTemporaryDir>

#include "archive_fixture.h"
#include "monitor/exit_confirm.h"
#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"
#include "run/archived_run.h"
#include "state/test_state.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"

namespace {

using archive::TestState;

class TestArchiving : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTestStateForTests();
        UseNoPort();
        g_nTestMinutes = 60;
        g_nRecordInterval = 5;
        g_nDiameter = 100;
        g_strVoltage = QStringLiteral("60.0");
        g_strTester = QStringLiteral("张三");
        g_strOrganisation = QStringLiteral("质检站");
        g_strCurrentUser = QStringLiteral("admin");
        for (int i = 0; i < 9; ++i) g_strSpecimenNo[i] = QString("S%1").arg(i + 1);
        g_bChannelOff[5] = 1;  // channel 6 not in use
    }
    void TearDown() override {
        LinkThreads::joinAll();
        PumpFor(5);
    }

    std::unique_ptr<Testclass> openForm() {
        auto form = std::make_unique<Testclass>();
        form->OnInitialUpdate();
        return form;
    }
    // What a channel poll leaves on the form.
    static void poll(Testclass& form, int minutes, int base) {
        for (int slot = 0; slot < 5; ++slot) {
            form.setChannelCellOnGui(slot, ChannelColumn::Current,
                                     QString("%1.50(mA)").arg(base + slot));
            form.setChannelCellOnGui(slot, ChannelColumn::Charge,
                                     QString("%1.2(C)").arg(base * 10 + slot));
        }
        form.setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信正常"));
        form.setItemTextOnGui(FormId::Voltage, QStringLiteral("60.00"));
        form.setItemTextOnGui(FormId::Temperature, QStringLiteral("25.3"));
        g_nInstrumentMinutes = minutes;
        form.OnChannelPollDone();
    }

    FreshArchive archive;
    ScriptedMessageBoxes boxes;
    ScriptedFileDialogs files;  // every save is cancelled
    FakeRunLink link;
    MainFrameRecorder frame;
};

TEST_F(TestArchiving, KeepsTheTestAsItRunsAndClosesItWithItsWindow) {
    auto form = openForm();
    form->OnStartTest();
    EXPECT_FALSE(ArchivedRun::uid().isEmpty());
    poll(*form, 12, 100);
    form->OnRecordSample();
    form->OnStartTest();  // pause
    form->OnStartTest();  // and on
    poll(*form, 17, 200);
    form->OnRecordSample();
    RunOnWorker([&] { form->link()->StopTest(); });  // the link gives up
    const QString startTime = form->itemTextOnGui(FormId::StartTime);
    const QString date = form->itemTextOnGui(FormId::TestDate);
    form.reset();

    const archive::ArchivedTest test = archive.onlyTest();
    EXPECT_EQ(test.header.testDate, date);
    EXPECT_EQ(test.header.startTime, startTime);
    EXPECT_EQ(test.header.user, "admin");
    EXPECT_EQ(test.header.portName, "COM1");
    EXPECT_EQ(test.header.portDevice, "/nonexistent/kivo-test-port");
    EXPECT_EQ(test.header.tester, "张三");
    EXPECT_EQ(test.header.organisation, "质检站");
    EXPECT_EQ(test.header.voltage, "60.0");
    EXPECT_EQ(test.header.testMinutes, 60);
    EXPECT_EQ(test.header.specimenNo[8], "S9");
    EXPECT_EQ(test.header.channelOff[5], 1);
    EXPECT_FALSE(test.header.programVersion.isEmpty());
    EXPECT_EQ(StatesOf(test),
              (std::vector<TestState>{TestState::Running, TestState::Paused, TestState::Running,
                                      TestState::CommFailure, TestState::Closed}));
    EXPECT_TRUE(test.closed);

    ASSERT_EQ(test.records.size(), 2u);
    const archive::RecordRow& second = test.records[1];
    EXPECT_EQ(second.number, 2);
    EXPECT_EQ(second.minutes, 17);
    EXPECT_EQ(second.temperature, "25.3");
    EXPECT_EQ(second.current[0], "200.50(mA)");
    EXPECT_EQ(second.charge[4], "2004.2(C)");
    EXPECT_TRUE(second.current[5].isEmpty());  // not in use
    EXPECT_EQ(test.records[0].minutes, 12);
    EXPECT_EQ(test.records[0].charge[1], "1001.2(C)");

    auto reader = archive.read();
    const std::vector<archive::PollRow> polls = reader->polls(test.id);
    ASSERT_EQ(polls.size(), 2u);
    EXPECT_EQ(polls[0].minutes, 12);
    EXPECT_EQ(polls[0].voltage, "60.00");
    EXPECT_EQ(polls[1].current[4], "204.50(mA)");
}

TEST_F(TestArchiving, AFinishKeepsItsCauseAndTheLastRecord) {
    for (const bool byMinutes : {true, false}) {
        auto form = openForm();
        form->OnStartTest();
        poll(*form, 60, 300);
        const QString uid = ArchivedRun::uid();
        RunOnWorker([&] {
            form->FinishTest(byMinutes, byMinutes ? QStringLiteral("请确认是否保存图片！")
                                                  : QStringLiteral("请确认是否保存图片2！"));
        });
        form.reset();
        auto reader = archive.read();
        std::optional<archive::ArchivedTest> test;
        for (const auto& summary : reader->listTests())
            if (summary.uid == uid) test = reader->loadTest(summary.id);
        ASSERT_TRUE(test);
        EXPECT_EQ(test->state,
                  byMinutes ? TestState::FinishedByMinutes : TestState::FinishedByInstrument);
        EXPECT_TRUE(test->closed);
        ASSERT_EQ(test->records.size(), 1u);  // the finish's own record
        EXPECT_EQ(test->records[0].current[2], "302.50(mA)");
    }
}

// The archive's folder is gone: the records are in the window only. Closing it asks first,
// before the password, and 先导出 leaves the window with its save buttons.
TEST_F(TestArchiving, RecordsTheArchiveCouldNotTakeAreOfferedForExportBeforeTheWindowGoes) {
    QTemporaryDir scratch;
    const QString missing = scratch.filePath(QStringLiteral("gone/kivo.sqlite"));
    ArchiveSession::open(missing);
    int confirmations = 0;
    SetExitConfirmer([&](QWidget*) { return ++confirmations > 0; });
    QPointer<Testclass> form = openForm().release();
    form->OnStartTest();
    poll(*form, 5, 10);
    form->OnRecordSample();
    poll(*form, 10, 20);
    form->OnRecordSample();
    form->OnStartTest();  // pause
    const auto writer = ArchiveSession::writer();
    ASSERT_TRUE(PumpUntil([&] { return writer->failed() && boxes.count() >= 1; }, 20000));
    PumpFor(200);  // every failure said
    boxes.clear();

    boxes.press({QStringLiteral("先导出")});
    form->OnCloseTest();
    ASSERT_EQ(boxes.count(), 1);
    const QString question = boxes.texts()[0];
    EXPECT_TRUE(question.contains(missing)) << question.toStdString();
    EXPECT_TRUE(question.contains("还有 2 条记录没有存入档案")) << question.toStdString();
    EXPECT_EQ(boxes.shown()[0].request.choices,
              (QStringList{QStringLiteral("先导出(&E)"), QStringLiteral("仍然关闭(&C)")}));
    EXPECT_EQ(confirmations, 0) << "asked before the password";
    PumpFor(50);
    ASSERT_FALSE(form.isNull());
    for (int id : {FormId::SaveText, FormId::SaveChart, FormId::SaveExcel, FormId::CloseTest})
        EXPECT_TRUE(form->item(id)->isEnabled()) << id;

    boxes.press({QStringLiteral("仍然关闭")});
    form->OnCloseTest();
    EXPECT_EQ(boxes.count(), 2);
    EXPECT_EQ(confirmations, 1);
    EXPECT_TRUE(PumpUntil([&] { return form.isNull(); }));
    SetExitConfirmer(nullptr);
    // The program's end names them once more.
    ArchiveSession::close();
    EXPECT_TRUE(boxes.texts().last().contains("2 条记录")) << boxes.texts().last().toStdString();
}

TEST_F(TestArchiving, WithoutAnArchiveTheTestRunsAsBefore) {
    ArchiveSession::close();
    auto form = openForm();
    form->OnStartTest();
    poll(*form, 5, 10);
    form->OnRecordSample();
    EXPECT_EQ(form->historyRowCount(0), 1);
    EXPECT_EQ(link.commands(), QStringList{"01W071 1111"});
    for (const QString& text : boxes.texts())
        EXPECT_FALSE(text.contains("档案")) << text.toStdString();
}

}  // namespace
