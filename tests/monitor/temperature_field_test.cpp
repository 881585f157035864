#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <string>

#include "link/reply_decoder.h"
#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"
#include "state/test_state.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"

namespace {

// Dialog units of the form in pixels.
QRect Du(int x, int y, int w, int h) { return QRect(x * 3 / 2, y * 3 / 2, w * 3 / 2, h * 3 / 2); }

class TemperatureField : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTestStateForTests();
        UseNoPort();
        form = std::make_unique<Testclass>();
        form->OnInitialUpdate();
        form->resize(form->minimumSize());
        form->show();
        PumpFor(10);
        boxes.clear();  // the port that cannot be opened here
    }
    void TearDown() override {
        form.reset();
        PumpFor(5);
    }
    QLineEdit* field() const { return static_cast<QLineEdit*>(form->item(FormId::Temperature)); }

    ScriptedMessageBoxes boxes;
    std::unique_ptr<Testclass> form;
};

TEST_F(TemperatureField, StandsShownInItsFrameWithItsLabelAfterTheCommunicationStatus) {
    QLineEdit* edit = field();
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->isVisible());
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_EQ(edit->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(edit->geometry(), Du(594, 206, 45, 14));
    EXPECT_EQ(edit->accessibleName(), "试件温度(℃)");

    QLabel* label = nullptr;
    for (QLabel* l : form->findChildren<QLabel*>())
        if (l->buddy() == edit) label = l;
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "试件温度(℃)");
    EXPECT_TRUE(label->isVisible());
    EXPECT_EQ(label->y(), Du(0, 191, 0, 0).y());  // in line with the other labels
    EXPECT_EQ(label->x(), edit->x());

    const QRect frameRect = Du(580, 180, 74, 54);
    bool framed = false;
    for (QFrame* f : form->findChildren<QFrame*>())
        if (f->metaObject() == &QFrame::staticMetaObject && f->geometry() == frameRect)
            framed = f->isVisible();
    EXPECT_TRUE(framed);
    EXPECT_TRUE(frameRect.contains(edit->geometry()));
    EXPECT_TRUE(frameRect.contains(label->geometry()));

    // Tab: 通信状态, then the temperature, then the first button.
    form->item(FormId::CommStatus)->setFocus(Qt::TabFocusReason);
    auto tab = [] {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(QApplication::focusWidget(), &key);
        PumpFor(5);
        return QApplication::focusWidget();
    };
    EXPECT_EQ(tab(), edit);
    EXPECT_EQ(tab(), form->item(FormId::InitButton));
}

TEST_F(TemperatureField, ShowsTheInstrumentsReadingAsANumber) {
    ResetReplyAccumulator();
    g_nCurCommand = CMD_READ_TEST;
    std::shared_ptr<FormLink> link = form->link();
    struct Reading {
        std::string reply;
        QString shown;
    };
    const Reading readings[] = {{"\x04"
                                 "0030 0020.50\x05",
                                 "20.5"},
                                {"\x04"
                                 "0030 0090.00\x05",
                                 "90.0"},
                                {"\x04"
                                 "0030 0100.00\x05",
                                 "100.0"}};
    RunOnWorker([&] {
        for (const Reading& r : readings) {
            DecodeReply(link.get(), r.reply.data(), r.reply.size());
            link->commandEnded();
            link->withForm(
                [&](Testclass& f) { EXPECT_EQ(f.itemTextOnGui(FormId::Temperature), r.shown); });
        }
    });
    EXPECT_EQ(field()->text(), "100.0");
    EXPECT_EQ(boxes.count(), 0);  // no test runs: a hot reading is only shown
}

}  // namespace
