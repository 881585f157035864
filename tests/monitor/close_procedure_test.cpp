#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "monitor/exit_confirm.h"
#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"
#include "platform/gui_gate.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"
#include "state/test_state.h"

namespace {

class CloseProcedure : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTestStateForTests();
        UseNoPort();
        g_nRecordInterval = 5;
        SetExitConfirmer([this](QWidget*) {
            ++confirmations;
            return confirm;
        });
    }
    void TearDown() override {
        SetExitConfirmer(nullptr);
        PumpFor(5);
        LinkThreads::joinAll();
        MessageBox::setResponder(nullptr);
    }

    // A test window with a running link: the receive stop event and both flags set.
    QPointer<Testclass> openForm(QWidget* parent = nullptr) {
        auto* form = new Testclass(parent);
        form->OnInitialUpdate();
        boxes.clear();
        g_bLinkActive = 1;
        g_hRxStopEvent.create();
        return form;
    }

    ScriptedMessageBoxes boxes;
    FakeRunLink link;
    int confirmations = 0;
    bool confirm = true;
};

TEST_F(CloseProcedure, OnlyAStoppedTestAndTheRightPasswordLetTheWindowClose) {
    QPointer<Testclass> form = openForm();
    form->OnStartTest();
    form->OnCloseTest();
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_EQ(boxes.texts()[0], "请先停止实验!");
    EXPECT_EQ(boxes.shown()[0].request.caption, "");
    EXPECT_EQ(boxes.shown()[0].request.buttons, MessageBox::Buttons::Ok);
    EXPECT_EQ(confirmations, 0);

    form->OnStartTest();  // pause
    confirm = false;
    form->OnCloseTest();
    EXPECT_EQ(confirmations, 1);
    PumpFor(10);
    ASSERT_FALSE(form.isNull());
    EXPECT_EQ(g_bLinkActive, 1);
    EXPECT_EQ(g_bWorkerRun, 1);
    EXPECT_TRUE(form->link()->stopEvent().exists());
    EXPECT_TRUE(g_hRxStopEvent.exists());
    delete form.data();
}

TEST_F(CloseProcedure, ClosesTheSubWindowItSitsIn) {
    QMdiArea area;
    QPointer<Testclass> form = new Testclass;
    QPointer<QMdiSubWindow> frame = area.addSubWindow(form);
    form->OnInitialUpdate();
    g_bLinkActive = 1;
    auto rxStop = g_hRxStopEvent.create();
    frame->show();
    form->OnDeviceInit();
    auto cycleStop = form->link()->stopEvent().get();

    static_cast<QPushButton*>(form->item(FormId::CloseTest))->click();
    EXPECT_EQ(g_bLinkActive, 0);
    EXPECT_EQ(g_bWorkerRun, 0);
    EXPECT_TRUE(cycleStop->isSet());
    EXPECT_TRUE(rxStop->isSet());
    EXPECT_FALSE(g_hRxStopEvent.exists());
    ASSERT_TRUE(PumpUntil([&] { return frame.isNull() && form.isNull(); }));
    EXPECT_TRUE(area.subWindowList().isEmpty());
}

TEST_F(CloseProcedure, AFrameThatTurnsDownCloseRequestsGoesAllTheSame) {
    struct StubbornFrame : QMdiSubWindow {
        void closeEvent(QCloseEvent* event) override { event->ignore(); }
    };
    QMdiArea area;
    QPointer<QMdiSubWindow> frame = new StubbornFrame;
    QPointer<Testclass> form = new Testclass;
    frame->setWidget(form);
    area.addSubWindow(frame);
    form->OnInitialUpdate();
    frame->show();
    form->OnCloseTest();
    ASSERT_TRUE(PumpUntil([&] { return frame.isNull() && form.isNull(); }));
}

TEST_F(CloseProcedure, AFormOfItsOwnClosesAndGoesAway) {
    QPointer<Testclass> form = openForm();
    form->show();
    form->OnCloseTest();
    ASSERT_TRUE(PumpUntil([&] { return form.isNull(); }));
    EXPECT_TRUE(g_pTestView.isNull());
}

// The receive thread finishes the test and waits on the first question; the operator's
// answer closes the window. The thread must be released and nothing may touch the form.
TEST_F(CloseProcedure, ClosingWhileAWorkerWaitsOnAQuestion) {
    QPointer<Testclass> form = openForm();
    int saves = 0;
    form->link()->m_saveChart = [&](Testclass&) { ++saves; };
    form->link()->m_saveExcel = [&](Testclass&) { ++saves; };
    MessageBox::setResponder([&](QWidget*, const MessageBox::Request&) {
        form->OnCloseTest();  // the test has ended, so the window may close
        return MessageBox::Cancel;
    });
    std::shared_ptr<FormLink> fl = form->link();
    std::atomic<bool> done{false};
    ASSERT_TRUE(LinkThreads::start([fl, &done] {
        fl->FinishTest(true, QStringLiteral("请确认是否保存图片！"));
        done = true;
    }));
    ASSERT_TRUE(PumpUntil([&] { return done && form.isNull(); }));
    EXPECT_EQ(saves, 0);
    EXPECT_EQ(LinkThreads::count(), 0);  // joined by the teardown or already ended
    LinkThreads::joinAll();
}

// Worse: the window is destroyed from inside the worker's own call on the GUI thread (a
// message box's event loop running the deletion). Waiting for that worker there would
// never end.
TEST_F(CloseProcedure, DestroyedFromInsideAWorkersCall) {
    QPointer<Testclass> form = openForm();
    int saves = 0;
    form->link()->m_saveChart = [&](Testclass&) { ++saves; };
    form->link()->m_saveExcel = [&](Testclass&) { ++saves; };
    int questions = 0;
    MessageBox::setResponder([&](QWidget*, const MessageBox::Request&) {
        ++questions;
        EXPECT_TRUE(GuiGate::instance().runningWorkerCall());
        delete form.data();
        return MessageBox::Ok;
    });
    std::shared_ptr<FormLink> fl = form->link();
    std::atomic<bool> done{false};
    ASSERT_TRUE(LinkThreads::start([fl, &done] {
        fl->FinishTest(false, QStringLiteral("请确认是否保存图片2！"));
        fl->setItemText(FormId::CommStatus, QStringLiteral("通信正常"));  // finds nothing
        done = true;
    }));
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
    EXPECT_TRUE(form.isNull());
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(saves, 0);  // answered OK, but the form had gone
    LinkThreads::joinAll();
}

// A command cycle polling the form while the window closes.
TEST_F(CloseProcedure, ClosingMidPoll) {
    QPointer<Testclass> form = openForm();
    std::atomic<int> polls{0};
    link.setCycleBody([&polls](std::shared_ptr<LinkView> view) {
        while (g_bWorkerRun) {
            view->setReading(0, LinkView::Reading::Current, QString::number(polls++));
            view->setField(LinkView::Field::CommStatus, QStringLiteral("通信正常"));
        }
    });
    form->OnStartTest();
    ASSERT_TRUE(PumpUntil([&] { return polls > 20; }));
    g_bTesting = 0;
    form->OnCloseTest();
    ASSERT_TRUE(PumpUntil([&] { return form.isNull(); }));
    EXPECT_EQ(LinkThreads::count(), 0);
}

// The cycle of a closed window must not put its messages over the next window.
TEST_F(CloseProcedure, AClosedWindowsLinkShowsNoMoreMessages) {
    QPointer<Testclass> first = openForm();
    std::shared_ptr<FormLink> old = first->link();
    delete first.data();
    QPointer<Testclass> second = openForm();
    MessageBox::Result answer = MessageBox::Ok;
    RunOnWorker([&] { answer = old->message(QStringLiteral("通信失败!")); });
    EXPECT_EQ(answer, MessageBox::Cancel);
    EXPECT_EQ(boxes.count(), 0);
    delete second.data();
}

}  // namespace

namespace {

TEST(MessageBoxOwner, AnOwnerGoingAwayWhileItsBoxIsOpenAnswersCancel) {
    MessageBox::setResponder(nullptr);  // the real box
    QPointer<QWidget> owner = new QWidget;
    owner->show();
    QTimer::singleShot(20, [&] { delete owner.data(); });
    EXPECT_EQ(MessageBox::show(owner, QStringLiteral("请确认是否保存数据！"), QString(),
                               MessageBox::Buttons::OkCancel),
              MessageBox::Cancel);
    EXPECT_TRUE(owner.isNull());
}

}  // namespace
