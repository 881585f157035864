#include <gtest/gtest.h>

#include <QRegularExpression>

#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"
#include "platform/time_scale.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"
#include "state/test_state.h"

namespace {

class RunControl : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTestStateForTests();
        UseNoPort();
        g_nRecordInterval = 5;
        g_nDiameter = 100;
        for (int i = 0; i < CHANNELS_IN_USE; ++i) g_strSpecimenNo[i] = QString("S%1").arg(i + 1);
        TimeScale::setFactor(10);  // the progress box takes 100 ticks of 1 ms
    }
    void TearDown() override {
        TimeScale::setFactor(1);
        LinkThreads::joinAll();
        PumpFor(5);  // messages still on their way go to this test's main frame
    }

    std::unique_ptr<Testclass> openForm() {
        auto form = std::make_unique<Testclass>();
        form->OnInitialUpdate();
        boxes.clear();
        form->setItemTextOnGui(FormId::CommStatus, QString());
        return form;
    }
    static QStringList statuses(Testclass& form) {
        QStringList list;
        for (int r = 0; r < CHANNELS_IN_USE; ++r)
            list << form.channelCellOnGui(r, ChannelColumn::Status);
        return list;
    }
    static bool enabled(Testclass& form, int id) { return form.item(id)->isEnabled(); }
    static bool saveButtonsEnabled(Testclass& form, bool expected) {
        for (int id : {FormId::SaveText, FormId::SaveChart, FormId::SaveExcel, FormId::CloseTest})
            if (enabled(form, id) != expected) return false;
        return true;
    }

    ScriptedMessageBoxes boxes;
    FakeRunLink link;
    MainFrameRecorder frame;
};

TEST_F(RunControl, WithoutAPortBothButtonsOnlySaySo) {
    link.portOpen = false;
    auto form = openForm();

    form->OnStartTest();
    EXPECT_EQ(boxes.texts(), QStringList{"请设置通信端口!"});
    EXPECT_EQ(boxes.shown()[0].request.caption, "Kivo");
    EXPECT_EQ(form->itemTextOnGui(FormId::CommStatus), "");  // start leaves the field alone
    EXPECT_EQ(form->itemTextOnGui(FormId::StartTime), "00:00:00");
    EXPECT_EQ(form->itemTextOnGui(FormId::StartButton), "开始实验");
    EXPECT_FALSE(form->started());
    EXPECT_EQ(g_bTesting, 0);

    form->OnDeviceInit();
    EXPECT_EQ(boxes.texts(), (QStringList{"请设置通信端口!", "请设置通信端口!"}));
    EXPECT_EQ(form->itemTextOnGui(FormId::CommStatus), "通信故障");
    EXPECT_TRUE(enabled(*form, FormId::InitButton));
    EXPECT_EQ(g_bWorkerRun, 0);
    EXPECT_EQ(link.cycleStarts, 0);
    EXPECT_TRUE(link.commands().isEmpty());
    PumpFor(20);
    EXPECT_TRUE(frame.messages.empty());
}

TEST_F(RunControl, DeviceInitialisationStartsTheCycleAndWaitsForTheBox) {
    auto form = openForm();
    form->OnDeviceInit();
    EXPECT_EQ(link.commands(), QStringList{"00W070 1111"});
    EXPECT_EQ(link.cycleStarts, 1);
    EXPECT_EQ(g_bWorkerRun, 1);
    EXPECT_TRUE(form->link()->stopEvent().exists());
    EXPECT_FALSE(enabled(*form, FormId::InitButton));
    EXPECT_TRUE(enabled(*form, FormId::StartButton));
    EXPECT_EQ(g_nCurCommand, 1);  // the initialisation check follows the box
    EXPECT_EQ(boxes.count(), 0);
}

TEST_F(RunControl, ACycleThatCannotStartIsReportedAndTheOperationGoesOn) {
    link.cycleCanStart = false;
    auto form = openForm();
    form->OnStartTest();
    EXPECT_EQ(boxes.texts(), QStringList{"创建接收线程失败1!"});
    EXPECT_EQ(g_bTesting, 1);
    EXPECT_EQ(g_bWorkerRun, 1);
    EXPECT_EQ(link.commands(), QStringList{"01W071 1111"});
    EXPECT_EQ(form->itemTextOnGui(FormId::StartButton), "暂停");
}

TEST_F(RunControl, StartPauseAndResume) {
    g_bChannelOff[2] = 1;
    auto form = openForm();
    g_nRetry = 7;
    EnqueueCommand(CMD_READ_TEST);

    form->OnStartTest();
    EXPECT_EQ(g_bTesting, 1);
    EXPECT_EQ(statuses(*form), (QStringList{"运行", "运行", "停用", "运行", "运行", "运行"}));
    EXPECT_EQ(form->itemTextOnGui(FormId::StartButton), "暂停");
    EXPECT_TRUE(saveButtonsEnabled(*form, false));
    EXPECT_FALSE(enabled(*form, FormId::InitButton));
    EXPECT_TRUE(enabled(*form, FormId::StartButton));
    EXPECT_EQ(g_nRetry, 0u);
    EXPECT_EQ(link.commands(), QStringList{"01W071 1111"});
    EXPECT_EQ(link.cycleStarts, 1);
    EXPECT_TRUE(form->started());
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$")
                    .match(form->itemTextOnGui(FormId::StartTime))
                    .hasMatch())
        << form->itemTextOnGui(FormId::StartTime).toStdString();
    ASSERT_TRUE(PumpUntil([&] { return frame.messages.size() == 1; }));
    EXPECT_EQ(frame.messages[0], WM_TIMERS_START);

    form->setItemTextOnGui(FormId::StartTime, QStringLiteral("01:02:03"));
    form->OnStartTest();  // pause
    EXPECT_EQ(g_bTesting, 0);
    EXPECT_EQ(statuses(*form), (QStringList{"停止", "停止", "停用", "停止", "停止", "停止"}));
    EXPECT_EQ(form->itemTextOnGui(FormId::StartButton), "开始实验");
    EXPECT_TRUE(saveButtonsEnabled(*form, true));
    EXPECT_EQ(link.commands(), (QStringList{"01W071 1111", "00W071 0000"}));
    EXPECT_EQ(g_cmdQueueHead, 0);
    EXPECT_EQ(g_cmdQueueTail, 0);
    ASSERT_TRUE(PumpUntil([&] { return frame.messages.size() == 2; }));
    EXPECT_EQ(frame.messages[1], WM_TIMERS_STOP);

    g_nRetry = 4;
    form->OnStartTest();  // resume: same cycle, same start time
    EXPECT_EQ(link.cycleStarts, 1);
    EXPECT_EQ(g_nRetry, 0u);
    EXPECT_EQ(link.commands().last(), "01W071 1111");
    EXPECT_EQ(form->itemTextOnGui(FormId::StartTime), "01:02:03");
    EXPECT_EQ(statuses(*form)[2], "停用");
    EXPECT_EQ(boxes.count(), 0);
}

}  // namespace

namespace {

TEST_F(RunControl, ANewInitialisationDropsTheCodesQueuedBeforeIt) {
    auto form = openForm();
    for (int i = 0; i < 5; ++i) EnqueueCommand(i % 2 ? CMD_READ_RUNSTATE : CMD_READ_TEST);
    form->OnDeviceInit();
    EXPECT_EQ(g_cmdQueueHead.load(), g_cmdQueueTail.load());
    EXPECT_EQ(link.cycleStarts, 1);
    EXPECT_EQ(link.commands(), QStringList{"00W070 1111"});
}

// The link cannot be brought back (the adapter is still out): neither button does anything
// more than the link's own message; once it is back, both work again.
TEST_F(RunControl, ADeviceStillGoneStopsTheStartAndTheInitialisation) {
    auto form = openForm();
    link.resumeSucceeds = false;
    form->OnStartTest();
    EXPECT_EQ(link.resumes, 1);
    EXPECT_EQ(g_bTesting, 0);
    EXPECT_FALSE(form->started());
    EXPECT_EQ(form->itemTextOnGui(FormId::StartTime), "00:00:00");
    EXPECT_EQ(form->itemTextOnGui(FormId::StartButton), "开始实验");

    form->OnDeviceInit();
    EXPECT_EQ(link.resumes, 2);
    EXPECT_EQ(form->itemTextOnGui(FormId::CommStatus), "通信故障");
    EXPECT_TRUE(enabled(*form, FormId::InitButton));
    EXPECT_EQ(link.cycleStarts, 0);
    EXPECT_TRUE(link.commands().isEmpty());

    link.resumeSucceeds = true;
    form->OnStartTest();
    EXPECT_EQ(link.resumes, 3);
    EXPECT_EQ(g_bTesting, 1);
    EXPECT_EQ(link.commands(), QStringList{"01W071 1111"});
    form->OnStartTest();  // the pause asks nothing of the link
    EXPECT_EQ(link.resumes, 3);
    EXPECT_EQ(boxes.count(), 0);
}

}  // namespace
