#include "monitor/form_link.h"

#include <gtest/gtest.h>

#include <QLineEdit>

#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "platform/gui_gate.h"
#include "state/test_state.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"

namespace {

// The form as the link threads reach it: what a command writes is handed over at its end,
// before anything that waits, and not again while the form shows it.
class FormLinkHandOver : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTestStateForTests();
        UseNoPort();
        GuiGate::instance().open();
        form = std::make_unique<Testclass>();
        form->OnInitialUpdate();
        boxes.clear();
        form->setItemTextOnGui(FormId::CommStatus, QString());  // no port here: "通信故障"
        link = form->link();
    }
    QString status() { return form->itemTextOnGui(FormId::CommStatus); }
    QString current(int row) { return form->channelCellOnGui(row, ChannelColumn::Current); }

    ScriptedMessageBoxes boxes;
    FakeRunLink fakeLink;
    std::unique_ptr<Testclass> form;
    std::shared_ptr<FormLink> link;
};

TEST_F(FormLinkHandOver, ACommandsTextsAppearTogetherAtItsEnd) {
    RunOnWorker([&] {
        link->setField(LinkView::Field::CommStatus, QStringLiteral("通信正常"));
        link->setReading(0, LinkView::Reading::Current, QStringLiteral("1.00(mA)"));
        link->setReading(1, LinkView::Reading::Current, QStringLiteral("2.00(mA)"));
    });
    PumpFor(50);
    EXPECT_EQ(current(0), "");  // still with the command
    EXPECT_EQ(status(), "");

    RunOnWorker([&] { link->commandEnded(); });
    EXPECT_TRUE(PumpUntil([&] { return current(1) == "2.00(mA)"; }));
    EXPECT_EQ(current(0), "1.00(mA)");
    EXPECT_EQ(status(), "通信正常");
}

TEST_F(FormLinkHandOver, ACallThatWaitsFindsEveryEarlierTextShown) {
    QString shownWithTheMessage;
    MessageBox::setResponder([&](QWidget*, const MessageBox::Request&) {
        shownWithTheMessage = current(2) + ' ' + status();
        return MessageBox::Ok;
    });
    RunOnWorker([&] {
        link->setReading(2, LinkView::Reading::Current, QStringLiteral("3.00(mA)"));
        link->setField(LinkView::Field::CommStatus, QStringLiteral("通信故障"));
        link->message(QStringLiteral("通信失败!12"));
    });
    EXPECT_EQ(shownWithTheMessage, "3.00(mA) 通信故障");
}

TEST_F(FormLinkHandOver, ATextTheFormShowsIsNotHandedOverAgainUnlessSomethingElseWroteIt) {
    RunOnWorker([&] {
        link->setField(LinkView::Field::CommStatus, QStringLiteral("通信正常"));
        link->commandEnded();
    });
    ASSERT_TRUE(PumpUntil([&] { return status() == "通信正常"; }));

    // A write the link cannot know of (signals blocked): a hand-off would undo it, so its
    // staying proves that the unchanged text was not handed over.
    auto* field = static_cast<QLineEdit*>(form->item(FormId::CommStatus));
    field->blockSignals(true);
    field->setText(QStringLiteral("x"));
    field->blockSignals(false);
    RunOnWorker([&] {
        link->setField(LinkView::Field::CommStatus, QStringLiteral("通信正常"));
        link->commandEnded();
    });
    PumpFor(50);
    EXPECT_EQ(status(), "x");

    // The run control's own write is seen: the next reply's text goes over again.
    form->setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信故障"));
    RunOnWorker([&] {
        link->setField(LinkView::Field::CommStatus, QStringLiteral("通信正常"));
        link->commandEnded();
    });
    EXPECT_TRUE(PumpUntil([&] { return status() == "通信正常"; }));
}

}  // namespace
