#include "run/temperature_watch.h"

#include <gtest/gtest.h>

#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"
#include "run/posted_messages.h"
#include "state/test_state.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"

namespace {

const QString kOverheated = QStringLiteral("试件温度已达到90℃，实验已暂停！");
const QString kStop = QStringLiteral("00W071 0000");
const QString kStart = QStringLiteral("01W071 1111");

TEST(TemperatureCelsius, ReadsThePlainDecimalsTheFormShowsAndNothingElse) {
    EXPECT_EQ(TemperatureCelsius("20.5"), 20.5);
    EXPECT_EQ(TemperatureCelsius("90.0"), 90.0);
    EXPECT_EQ(TemperatureCelsius("90"), 90.0);
    EXPECT_EQ(TemperatureCelsius("100.0"), 100.0);
    EXPECT_EQ(TemperatureCelsius(".5"), 0.5);  // "0000.50" as the decoder trims it
    EXPECT_EQ(TemperatureCelsius("-3.5"), -3.5);
    for (const char* text :
         {"", ".", " 90.0", "90.0 ", "9O.0", "90.0.1", "1e2", "inf", "nan", "0x5A", "90,0", "+"})
        EXPECT_FALSE(TemperatureCelsius(QString::fromUtf8(text))) << text;
}

TEST(OverheatCount, OnlyTwoHotReadingsInARowComplete) {
    OverheatCount count;
    EXPECT_FALSE(count.reading("90.0"));
    EXPECT_TRUE(count.reading("90.0"));
    // After a completed run it starts again.
    EXPECT_FALSE(count.reading("95.0"));
    EXPECT_TRUE(count.reading("95.0"));

    for (const char* breaker : {"89.9", "", "9O.0"}) {
        EXPECT_FALSE(count.reading("90.0")) << breaker;
        EXPECT_FALSE(count.reading(breaker)) << breaker;
        EXPECT_FALSE(count.reading("90.0")) << breaker;
        EXPECT_TRUE(count.reading("90.1")) << breaker;
    }
}

// The readings come as the link hands them over: through the form's link, from a link thread.
class TemperatureWatch : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTestStateForTests();
        UseNoPort();
        g_nRecordInterval = 5;
        for (int i = 0; i < CHANNELS_IN_USE; ++i) g_strSpecimenNo[i] = QString("S%1").arg(i + 1);
        form = std::make_unique<Testclass>();
        form->OnInitialUpdate();
        boxes.clear();
    }
    void TearDown() override {
        form.reset();
        LinkThreads::joinAll();
        PumpFor(5);
    }

    // One temperature poll: the reading, the end of its command, and a call that waits, so
    // that the reading has been shown (and watched) when this returns.
    void reading(const QString& text) {
        std::shared_ptr<FormLink> link = form->link();
        RunOnWorker([&] {
            link->setField(LinkView::Field::Temperature, text);
            link->commandEnded();
            link->withForm([](Testclass&) {});
        });
    }
    void readings(std::initializer_list<const char*> texts) {
        for (const char* t : texts) reading(QString::fromUtf8(t));
    }
    QStringList statuses() const {
        QStringList list;
        for (int r = 0; r < CHANNELS_IN_USE; ++r)
            list << form->channelCellOnGui(r, ChannelColumn::Status);
        return list;
    }
    int count(const QString& command) const {
        return static_cast<int>(link.commands().count(command));
    }

    ScriptedMessageBoxes boxes;
    FakeRunLink link;
    MainFrameRecorder frame;
    std::unique_ptr<Testclass> form;
};

TEST_F(TemperatureWatch, TwoReadingsAtTheLimitPauseTheTestAsPauseDoes) {
    // A window with channel 5 off: the pause leaves its status alone.
    form.reset();
    g_bChannelOff[4] = 1;
    form = std::make_unique<Testclass>();
    form->OnInitialUpdate();
    form->OnStartTest();
    QWidget* owner = nullptr;
    QString caption;
    int shown = 0;
    MessageBox::setResponder([&](QWidget* o, const MessageBox::Request& r) {
        ++shown;
        owner = o;
        caption = r.caption;
        EXPECT_EQ(r.text, kOverheated);
        // The box comes after the pause.
        EXPECT_EQ(g_bTesting, 0);
        EXPECT_EQ(form->itemTextOnGui(FormId::StartButton), "开始实验");
        EXPECT_EQ(count(kStop), 1);
        return MessageBox::Ok;
    });

    reading("90.0");
    EXPECT_EQ(g_bTesting, 1);
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(form->itemTextOnGui(FormId::Temperature), "90.0");

    reading("90.0");  // the same text: still a reading of its own
    EXPECT_EQ(g_bTesting, 0);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(owner, form.get());
    EXPECT_EQ(caption, "Kivo");
    EXPECT_EQ(link.commands(), (QStringList{kStart, kStop}));
    EXPECT_EQ(statuses(), (QStringList{"停止", "停止", "停止", "停止", "停用", "停止"}));
    EXPECT_EQ(form->itemTextOnGui(FormId::StartButton), "开始实验");
    for (int id : {FormId::SaveText, FormId::SaveChart, FormId::SaveExcel, FormId::CloseTest})
        EXPECT_TRUE(form->item(id)->isEnabled()) << id;
    ASSERT_TRUE(PumpUntil([&] { return frame.messages.size() == 2; }));
    EXPECT_EQ(frame.messages[1], WM_TIMERS_STOP);

    // Hotter still, but paused: nothing more.
    readings({"95.0", "95.0", "95.0"});
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(count(kStop), 1);
    MessageBox::setResponder(nullptr);
}

TEST_F(TemperatureWatch, AReadingBelowTheLimitOrNotANumberBreaksTheRun) {
    form->OnStartTest();
    readings({"89.9", "90.0", "89.9", "90.0", "", "90.0", "9O.0", "90.0", "89.99"});
    EXPECT_EQ(g_bTesting, 1);
    EXPECT_EQ(boxes.count(), 0);
    EXPECT_EQ(count(kStop), 0);
    EXPECT_EQ(form->itemTextOnGui(FormId::StartButton), "暂停");

    readings({"90.0", "91.2"});
    EXPECT_EQ(g_bTesting, 0);
    EXPECT_EQ(boxes.texts(), QStringList{kOverheated});
}

TEST_F(TemperatureWatch, APauseAndEveryStartCountAfresh) {
    form->OnStartTest();
    reading("92.0");
    form->OnStartTest();  // "暂停"
    form->OnStartTest();  // "开始实验"
    reading("92.0");
    EXPECT_EQ(g_bTesting, 1);
    EXPECT_EQ(boxes.count(), 0);
    reading("92.0");
    EXPECT_EQ(g_bTesting, 0);
    EXPECT_EQ(boxes.texts(), QStringList{kOverheated});

    // The operator carries on while it is still hot: two readings again before the next pause.
    form->OnStartTest();
    EXPECT_EQ(form->itemTextOnGui(FormId::StartButton), "暂停");
    EXPECT_EQ(statuses()[0], "运行");
    reading("95.0");
    EXPECT_EQ(g_bTesting, 1);
    reading("95.0");
    EXPECT_EQ(g_bTesting, 0);
    EXPECT_EQ(boxes.texts(), (QStringList{kOverheated, kOverheated}));
    EXPECT_EQ(link.commands(), (QStringList{kStart, kStop, kStart, kStop, kStart, kStop}));

    // A pause by a communication failure breaks the run as well.
    boxes.clear();
    form->OnStartTest();
    reading("95.0");
    RunOnWorker([&] { form->link()->StopTest(); });
    form->OnStartTest();
    reading("95.0");
    EXPECT_EQ(g_bTesting, 1);
    EXPECT_EQ(boxes.count(), 0);
}

TEST_F(TemperatureWatch, ReadingsWhileNoTestRunsAreOnlyShown) {
    readings({"95.0", "95.0", "95.0"});
    EXPECT_EQ(form->itemTextOnGui(FormId::Temperature), "95.0");
    EXPECT_EQ(boxes.count(), 0);
    EXPECT_TRUE(link.commands().isEmpty());

    // Nor do they count towards the first start's run.
    form->OnStartTest();
    reading("95.0");
    EXPECT_EQ(g_bTesting, 1);
    EXPECT_EQ(boxes.count(), 0);
}

TEST_F(TemperatureWatch, TheWindowGoingAwayWhileTheBoxIsOpenEndsNothingBadly) {
    form->OnStartTest();
    MessageBox::setResponder([&](QWidget*, const MessageBox::Request&) {
        form.reset();  // as closing the program would take the window along
        return MessageBox::Cancel;
    });
    readings({"95.0", "95.0"});
    EXPECT_EQ(form, nullptr);
    EXPECT_EQ(count(kStop), 1);
    MessageBox::setResponder(nullptr);
}

}  // namespace
