#include <gtest/gtest.h>

#include <thread>

#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"
#include "platform/gui_gate.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"
#include "state/test_state.h"

namespace {

class StopFinish : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTestStateForTests();
        UseNoPort();
        g_nRecordInterval = 5;
        g_bChannelOff[4] = 1;
        form = std::make_unique<Testclass>();
        form->OnInitialUpdate();
        boxes.clear();
        g_bLinkActive = 1;
        g_hRxStopEvent.create();
        for (int r = 0; r < CHANNELS_IN_USE; ++r) {
            if (g_bChannelOff[r]) continue;
            form->setChannelCellOnGui(r, ChannelColumn::Current, QString("%1.5(mA)").arg(100 + r));
            form->setChannelCellOnGui(r, ChannelColumn::Charge, QString("%1.25(C)").arg(r));
        }
        form->setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信正常"));
        form->OnStartTest();
        form->OnRecordSample();
        PumpUntil([&] { return !frame.messages.empty(); });
        link.clear();
        frame.messages.clear();

        auto fl = form->link();
        fl->m_saveChart = [this](Testclass&) {
            saves << (GuiGate::onGuiThread() ? "chart" : "chart?");
        };
        fl->m_saveExcel = [this](Testclass&) {
            saves << (GuiGate::onGuiThread() ? "excel" : "excel?");
        };
    }
    void TearDown() override {
        form.reset();
        LinkThreads::joinAll();
        PumpFor(5);  // messages still on their way go to this test's main frame
    }

    QStringList statuses() const {
        QStringList list;
        for (int r = 0; r < CHANNELS_IN_USE; ++r)
            list << form->channelCellOnGui(r, ChannelColumn::Status);
        return list;
    }
    bool saveButtonsEnabled() const {
        for (int id : {FormId::SaveText, FormId::SaveChart, FormId::SaveExcel, FormId::CloseTest})
            if (!form->item(id)->isEnabled()) return false;
        return true;
    }

    ScriptedMessageBoxes boxes;
    FakeRunLink link;
    MainFrameRecorder frame;
    std::unique_ptr<Testclass> form;
    QStringList saves;
};

TEST_F(StopFinish, ACommunicationFailureStopsTheTestFromTheCommandCycle) {
    std::thread::id worker;
    EnqueueCommand(CMD_READ_CHANNELS);
    RunOnWorker([&] {
        worker = std::this_thread::get_id();
        form->link()->StopTest();
    });
    EXPECT_EQ(g_bTesting, 0);
    EXPECT_EQ(statuses(), (QStringList{"停止", "停止", "停止", "停止", "停用", "停止"}));
    EXPECT_EQ(form->itemTextOnGui(FormId::StartButton), "开始实验");
    EXPECT_TRUE(saveButtonsEnabled());
    EXPECT_EQ(link.commands(), QStringList{"00W071 0000"});
    EXPECT_EQ(link.commandThreads()[0], worker);  // written by the calling thread
    EXPECT_EQ(g_cmdQueueHead, 0);
    ASSERT_TRUE(PumpUntil([&] { return !frame.messages.empty(); }));
    EXPECT_EQ(frame.messages, std::vector<int>{WM_TIMERS_STOP});
    // The link stays up: a later start resumes polling.
    EXPECT_EQ(g_bWorkerRun, 1);
    EXPECT_EQ(g_bLinkActive, 1);
}

struct FinishCase {
    bool sendStop;
    const char* prompt;
};

class FinishKinds : public StopFinish, public ::testing::WithParamInterface<FinishCase> {};

TEST_P(FinishKinds, RecordOneLastRowMarkTheEndAndAskBothQuestions) {
    const FinishCase c = GetParam();
    auto cycleStop = form->link()->stopEvent().get();
    auto rxStop = g_hRxStopEvent.get();
    ASSERT_TRUE(cycleStop && rxStop);
    EnqueueCommand(CMD_READ_RUNSTATE);
    form->setChannelCellOnGui(0, ChannelColumn::Current, QStringLiteral("222.0(mA)"));

    RunOnWorker([&] { form->link()->FinishTest(c.sendStop, QString::fromUtf8(c.prompt)); });

    EXPECT_EQ(form->itemTextOnGui(FormId::RemainingMinutes), "完成");
    EXPECT_EQ(g_bTesting, 0);
    EXPECT_EQ(g_bLinkActive, 0);
    EXPECT_EQ(g_bWorkerRun, 0);
    EXPECT_TRUE(cycleStop->isSet());
    EXPECT_TRUE(rxStop->isSet());
    EXPECT_FALSE(form->link()->stopEvent().exists());
    EXPECT_FALSE(g_hRxStopEvent.exists());
    EXPECT_EQ(link.commands(), c.sendStop ? QStringList{"00W071 0000"} : QStringList{});

    // One last record, numbered on.
    EXPECT_EQ(form->historyRowCount(0), 2);
    EXPECT_EQ(form->historyCell(0, 1, 1), "2");
    EXPECT_EQ(form->historyCell(0, 1, 2), "222.0(mA)");
    EXPECT_EQ(form->historyRowCount(4), 0);
    EXPECT_EQ(g_nLastRecord, 1u);

    EXPECT_EQ(statuses(), (QStringList{"完成", "完成", "完成", "完成", "停用", "完成"}));
    EXPECT_EQ(form->itemTextOnGui(FormId::StartButton), "开始实验");
    EXPECT_TRUE(saveButtonsEnabled());
    EXPECT_EQ(g_cmdQueueHead, 0);

    const auto shown = boxes.shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].request.text, QString::fromUtf8(c.prompt));
    EXPECT_EQ(shown[1].request.text, "请确认是否保存数据！");
    for (const auto& s : shown) {
        EXPECT_EQ(s.request.caption, "");
        EXPECT_EQ(s.request.buttons, MessageBox::Buttons::OkCancel);
        EXPECT_EQ(s.request.icon, MessageBox::Icon::Exclamation);
        EXPECT_TRUE(s.hadOwner);
    }
    EXPECT_EQ(saves, (QStringList{"chart", "excel"}));  // both on the GUI thread
    ASSERT_TRUE(PumpUntil([&] { return !frame.messages.empty(); }));
    EXPECT_EQ(frame.messages, std::vector<int>{WM_TIMERS_STOP});
}

INSTANTIATE_TEST_SUITE_P(Ends, FinishKinds,
                         ::testing::Values(FinishCase{true, "请确认是否保存图片！"},
                                           FinishCase{false, "请确认是否保存图片2！"}),
                         [](const auto& info) {
                             return std::string(info.param.sendStop ? "MinuteCount" : "RunState");
                         });

TEST_F(StopFinish, OnlyTheQuestionsAnsweredOkSave) {
    boxes.answer({MessageBox::Cancel, MessageBox::Ok});
    RunOnWorker([&] { form->link()->FinishTest(true, QStringLiteral("请确认是否保存图片！")); });
    EXPECT_EQ(saves, QStringList{"excel"});

    saves.clear();
    boxes.answer({MessageBox::Ok, MessageBox::Cancel});
    form->FinishTest(false, QStringLiteral("请确认是否保存图片2！"));  // on the GUI thread too
    EXPECT_EQ(saves, QStringList{"chart"});
}

TEST_F(StopFinish, AFinishWithoutAReadingOfTheLinkRecordsNothingMore) {
    form->setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信故障"));
    RunOnWorker([&] { form->link()->FinishTest(false, QStringLiteral("请确认是否保存图片2！")); });
    EXPECT_EQ(form->historyRowCount(0), 1);
    EXPECT_EQ(statuses()[0], "完成");
}

}  // namespace
