#include "monitor/form_link.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <algorithm>
#include <cstdio>
#include <thread>

#include "link/command_cycle.h"
#include "link/pty_peer.h"
#include "link/serial_channel.h"
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
    int records() { return form->historyRowCount(0); }
    QString recordedCurrent(int row) { return form->historyCell(0, row, HistoryColumn::Current); }

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

// The record tick waits for what the link produced before it; a write of the GUI thread's own
// comes after everything the link produced before it, whether still with its command or
// already queued to the GUI thread.
TEST_F(FormLinkHandOver, ARecordTakesWhatIsOnItsWayAndAFaultWrittenOnTheGuiThreadStays) {
    RunOnWorker([&] {
        link->setField(LinkView::Field::CommStatus, QStringLiteral("通信正常"));
        link->setReading(0, LinkView::Reading::Current, QStringLiteral("1.00(mA)"));
    });
    form->OnRecordTick();  // mid-command: the status and the reading are still with it
    ASSERT_TRUE(PumpUntil([&] { return records() == 1; }));
    EXPECT_EQ(recordedCurrent(0), "1.00(mA)");

    int taken = 1;
    for (const bool queued : {false, true}) {
        SCOPED_TRACE(queued ? "queued to the GUI thread" : "with its command");
        form->setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信故障"));
        // A reply's status, produced before the run control writes its fault below; the
        // GUI thread does not run meanwhile.
        std::thread worker([&] {
            link->setField(LinkView::Field::CommStatus, QStringLiteral("通信正常"));
            if (queued) link->commandEnded();
        });
        worker.join();
        form->setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信故障"));
        RunOnWorker([&] { link->commandEnded(); });
        PumpFor(30);
        EXPECT_EQ(status(), "通信故障");
        form->OnRecordTick();
        PumpFor(30);
        EXPECT_EQ(records(), taken);  // nothing is recorded on a bad link

        // The next reply's status goes over again, and recording with it.
        RunOnWorker([&] {
            link->setField(LinkView::Field::CommStatus, QStringLiteral("通信正常"));
            link->commandEnded();
        });
        form->OnRecordTick();
        ++taken;
        ASSERT_TRUE(PumpUntil([&] { return records() == taken; }));
    }
}

// Two threads hand texts over at the same time: the form shows them in the order they were
// produced, never an older one over a newer one.
TEST_F(FormLinkHandOver, TextsOfTwoThreadsReachTheFormInTheOrderTheyWereProduced) {
    auto* field = static_cast<QLineEdit*>(form->item(FormId::RemainingMinutes));
    std::vector<int> shown;
    QObject::connect(field, &QLineEdit::textChanged,
                     [&](const QString& text) { shown.push_back(text.toInt()); });
    constexpr int kEach = 400;
    std::mutex producing;
    int produced = 0;
    std::atomic<int> done{0};
    auto work = [&] {
        for (int i = 0; i < kEach; ++i) {
            {
                std::lock_guard lock(producing);
                link->setField(LinkView::Field::RemainingMinutes, QString::number(++produced));
            }
            link->commandEnded();
        }
        ++done;
    };
    std::thread a(work), b(work);
    PumpUntil([&] { return done.load() == 2; });
    a.join();
    b.join();
    // The last text handed over is the newest; it arrives once the GUI thread gets to it.
    EXPECT_TRUE(PumpUntil([&] { return !shown.empty() && shown.back() == 2 * kEach; }))
        << (shown.empty() ? -1 : shown.back());
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
}

// The form, its link and the command cycle on a pseudo-terminal: a record tick while a
// silent channel is being asked again takes the readings the poll has already brought, not
// those of the poll before.
TEST(FormLinkOnTheLine, ARecordTickDuringAChannelsRepeatsTakesTheFreshReadings) {
    ResetTestStateForTests();
    GuiGate::instance().open();
    Pty pty;
    qputenv("KIVO_COM1", QByteArray::fromStdString(pty.slavePath()));
    ScriptedMessageBoxes boxes;
    // Channel 1 reads n.00 mA at its n-th request; channel 3 answers its first request and
    // then falls silent for three.
    ScriptedPeer peer(pty, [](const std::string& text, int nth) -> std::optional<std::string> {
        if (text == "10R010") {
            char reply[16];
            std::snprintf(reply, sizeof reply, "0010 000%d.00", nth % 10);
            return std::string(reply);
        }
        if (text == "12R010" && nth >= 2 && nth <= 4) return std::nullopt;
        return ScriptedPeer::instrument(text);
    });
    SetCommandCycleTimingForTests({2, 150});
    g_bLinkActive = 1;  // as the main frame sets it before a test window opens
    {
        Testclass form;
        form.OnInitialUpdate();
        std::shared_ptr<FormLink> link = form.link();
        link->m_bStarted = 1;
        g_bWorkerRun = 1;
        ASSERT_TRUE(StartCommandCycle(link));
        const auto current = [&] { return form.channelCellOnGui(0, ChannelColumn::Current); };

        EnqueueCommand(CMD_READ_CHANNELS);
        ASSERT_TRUE(
            PumpUntil([&] { return current() == "1.00(mA)" && peer.count("15R060") == 1; }));
        EnqueueCommand(CMD_READ_CHANNELS);
        ASSERT_TRUE(PumpUntil([&] { return peer.count("12R010") == 3; }));
        form.OnRecordTick();
        ASSERT_TRUE(PumpUntil([&] { return form.historyRowCount(0) == 1; }));
        EXPECT_EQ(form.historyCell(0, 0, HistoryColumn::Current), "2.00(mA)");
        EXPECT_TRUE(PumpUntil([&] { return peer.count("15R060") == 2; }));
        EXPECT_EQ(boxes.count(), 0);

        g_bWorkerRun = 0;
        link->m_hStopEvent.setAndClose();
        g_hRxStopEvent.setAndClose();
        EXPECT_TRUE(PumpUntil([] {
            LinkThreads::joinFinished();
            return LinkThreads::count() == 0;
        }));
    }
    ClosePort();
    SetCommandCycleTimingForTests(CycleTiming{});
    qunsetenv("KIVO_COM1");
}

}  // namespace
