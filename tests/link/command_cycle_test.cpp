#include <QStringList>
#include <atomic>
#include <vector>

#include "link_fixture.h"
#include "monitor/form_ids.h"

namespace {

std::vector<std::string> channelRequests() {
    std::vector<std::string> all;
    for (int address = 10; address <= 15; ++address) {
        all.push_back(std::to_string(address) + "R010");
        all.push_back(std::to_string(address) + "R060");
    }
    return all;
}

ScriptedPeer::Script silentOn(const std::string& text, int firstAnswered = 1 << 30) {
    return
        [text, firstAnswered](const std::string& request, int nth) -> std::optional<std::string> {
            if (request == text && nth < firstAnswered) return std::nullopt;
            return ScriptedPeer::instrument(request);
        };
}

bool idle() { return g_nCurCommand.load() == 0; }

int threadsRunning() {
    LinkThreads::joinFinished();
    return LinkThreads::count();
}

class CommandCycleTest : public LinkTest {
  protected:
    // The link as the test form has it after its first update, and a command cycle.
    void start(CycleTiming timing) {
        g_bLinkActive = 1;
        ASSERT_TRUE(OpenLink(view, 0));
        SetCommandCycleTimingForTests(timing);
        g_bWorkerRun = 1;
        ASSERT_TRUE(StartCommandCycle(view));
    }

    // Records, for every message box, the status field and the number of stops at the
    // moment it is shown.
    struct Shown {
        QString text, status;
        int stops;
    };
    void watchMessages() {
        MessageBox::setResponder([this](QWidget*, const MessageBox::Request& request) {
            std::lock_guard lock(m_shownMutex);
            m_shown.push_back({request.text, view->itemText(FormId::CommStatus), view->stops()});
            return MessageBox::Ok;
        });
    }
    std::vector<Shown> shown() {
        std::lock_guard lock(m_shownMutex);
        return m_shown;
    }

    std::mutex m_shownMutex;
    std::vector<Shown> m_shown;
};

TEST_F(CommandCycleTest, ChannelPollAsksEveryAddressInOrderAndFillsTheTable) {
    ScriptedPeer peer(pty, silentOn(""));
    view->m_started = true;
    start({2, 200});
    EnqueueCommand(CMD_READ_CHANNELS);
    ASSERT_TRUE(pumpUntil([&] { return peer.requests().size() == 12 && idle(); }));
    pumpFor(30);
    EXPECT_EQ(peer.requests(), channelRequests());
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(view->channelCell(row, 4), QStringLiteral("1%1.50(mA)").arg(row));
        EXPECT_EQ(view->channelCell(row, 5), QStringLiteral("2%1.25(C)").arg(row));
    }
    EXPECT_EQ(view->itemText(FormId::CommStatus), "通信正常");
    EXPECT_EQ(boxes.count(), 0);
    EXPECT_EQ(view->stops(), 0);
    EXPECT_EQ(view->pollsDone(), 1);
}

TEST_F(CommandCycleTest, CurrentAnsweredOnItsThirdRepeatLetsThePollGoOn) {
    ScriptedPeer peer(pty, silentOn("12R010", 4));
    view->m_started = true;
    start({2, 200});
    EnqueueCommand(CMD_READ_CHANNELS);
    ASSERT_TRUE(pumpUntil([&] { return peer.count("15R060") == 1 && idle(); }));
    EXPECT_EQ(peer.count("12R010"), 4);
    std::vector<std::string> distinct = peer.requests();
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    EXPECT_EQ(distinct, channelRequests());
    EXPECT_EQ(g_nRetry.load(), 3u);
    EXPECT_EQ(view->channelCell(2, 4), "12.50(mA)");
    EXPECT_EQ(view->channelCell(5, 5), "25.25(C)");
    EXPECT_EQ(boxes.count(), 0);
    EXPECT_EQ(view->stops(), 0);
}

TEST_F(CommandCycleTest, CurrentNeverAnsweredIsSentSevenTimesThenTheTestStops) {
    watchMessages();
    ScriptedPeer peer(pty, silentOn("12R010"));
    view->m_started = true;
    start({2, 100});
    EnqueueCommand(CMD_READ_CHANNELS);
    ASSERT_TRUE(pumpUntil([&] { return view->stops() == 1 && idle(); }));
    pumpFor(100);
    EXPECT_EQ(peer.requests(),
              std::vector<std::string>({"10R010", "10R060", "11R010", "11R060", "12R010", "12R010",
                                        "12R010", "12R010", "12R010", "12R010", "12R010"}));
    ASSERT_EQ(shown().size(), 1u);
    EXPECT_EQ(shown()[0].text, "通信失败!12");
    EXPECT_EQ(shown()[0].status, "通信故障");  // the status is set before the message
    EXPECT_EQ(shown()[0].stops, 0);            // and the test stopped after it
    EXPECT_GT(g_nRetry.load(), 5u);
    EXPECT_EQ(view->pollsDone(), 1);  // a poll cut short still ends

    // Communication has failed: later polls ask nothing until a new start resets the count.
    EnqueueCommand(CMD_READ_CHANNELS);
    pumpFor(150);
    EXPECT_TRUE(idle());
    EXPECT_EQ(peer.requests().size(), 11u);
    EXPECT_EQ(view->pollsDone(), 1);
    EXPECT_EQ(threadsRunning(), 2);  // the cycle idles on
}

TEST_F(CommandCycleTest, TwentyCodesQueuedWhileTheCycleIsStuckAreLost) {
    ScriptedPeer peer(pty, silentOn("10R010", 2));
    view->m_started = true;
    start({2, 150});
    EnqueueCommand(CMD_READ_CHANNELS);
    ASSERT_TRUE(pumpUntil([&] { return peer.count("10R010") == 1; }));
    for (int i = 0; i < COMMAND_QUEUE_SIZE; ++i) EnqueueCommand(CMD_READ_RUNSTATE);
    EXPECT_EQ(g_cmdQueueHead.load(), g_cmdQueueTail.load());
    ASSERT_TRUE(pumpUntil([&] { return peer.count("15R060") == 1 && idle(); }));
    pumpFor(100);
    EXPECT_EQ(peer.count("02R071"), 0);
    EXPECT_EQ(peer.requests().size(), 13u);
}

TEST_F(CommandCycleTest, AnsweredInitialisationCheckEnablesTheStart) {
    ScriptedPeer peer(pty, silentOn(""));
    for (int i = 0; i < 3; ++i) EnqueueCommand(CMD_READ_RUNSTATE);
    g_nLastRecord = 7;
    g_nRetry = 4;
    g_nCurCommand = CMD_READ_TEST;
    start({2, 200});
    ASSERT_TRUE(pumpUntil([&] { return peer.count("00R031") == 1 && idle(); }));
    pumpFor(50);
    EXPECT_EQ(peer.requests(), std::vector<std::string>({"00R030", "00R031"}));
    EXPECT_TRUE(view->enabledKnown(FormId::InitButton));
    EXPECT_FALSE(view->enabled(FormId::InitButton));
    EXPECT_TRUE(view->enabled(FormId::StartButton));
    EXPECT_EQ(g_nLastRecord.load(), 0u);
    EXPECT_EQ(g_nRetry.load(), 0u);
    EXPECT_EQ(g_cmdQueueHead.load(), 0);
    EXPECT_EQ(g_cmdQueueTail.load(), 0);
    for (const auto& slot : g_cmdQueue) EXPECT_EQ(slot.load(), 0);
    EXPECT_EQ(view->itemText(FormId::Voltage), "");  // "60 V" belongs to a running test
    EXPECT_EQ(boxes.count(), 0);
    EXPECT_EQ(threadsRunning(), 2);
}

TEST_F(CommandCycleTest, UnansweredInitialisationCheckEndsTheCycleUntilTheNextOne) {
    watchMessages();
    std::atomic<bool> answering{false};
    ScriptedPeer peer(pty, [&](const std::string& text, int) -> std::optional<std::string> {
        if (!answering) return std::nullopt;
        return ScriptedPeer::instrument(text);
    });
    g_nCurCommand = CMD_READ_TEST;
    start({2, 100});
    ASSERT_TRUE(pumpUntil([&] { return threadsRunning() == 1; }));
    ASSERT_EQ(shown().size(), 1u);
    EXPECT_EQ(shown()[0].text, "通信失败1!");
    EXPECT_EQ(shown()[0].status, "通信故障");
    EXPECT_TRUE(view->enabled(FormId::InitButton));
    EXPECT_EQ(g_bWorkerRun.load(), 1);  // so a start creates no new cycle
    EXPECT_TRUE(idle());
    EXPECT_EQ(peer.requests(), std::vector<std::string>({"00R030"}));
    EXPECT_EQ(view->stops(), 0);

    // Codes queued by a start without a cycle are never run.
    EnqueueCommand(CMD_READ_CHANNELS);
    pumpFor(100);
    EXPECT_EQ(peer.requests().size(), 1u);

    // A new initialisation starts a new cycle and its check.
    answering = true;
    g_nCurCommand = CMD_READ_TEST;
    ASSERT_TRUE(StartCommandCycle(view));
    EXPECT_TRUE(pumpUntil([&] { return view->enabled(FormId::StartButton); }));
    EXPECT_EQ(shown().size(), 1u);
}

TEST_F(CommandCycleTest, TestValuesDuringARun) {
    g_nTestMinutes = 360;
    ScriptedPeer peer(pty, silentOn(""));
    view->m_started = true;
    start({2, 200});
    EnqueueCommand(CMD_READ_TEST);
    ASSERT_TRUE(pumpUntil([&] { return peer.count("00R031") == 1 && idle(); }));
    EXPECT_EQ(peer.requests(), std::vector<std::string>({"00R030", "00R031"}));
    EXPECT_EQ(view->itemText(FormId::Voltage), "60 V");
    EXPECT_EQ(view->itemText(FormId::Temperature), "25.3");
    EXPECT_EQ(view->itemText(FormId::RemainingMinutes), "348");
    EXPECT_EQ(boxes.count(), 0);
}

TEST_F(CommandCycleTest, UnansweredTemperatureStopsTheRunButTheMinutesAreStillAsked) {
    watchMessages();
    ScriptedPeer peer(pty, silentOn("00R030"));
    view->m_started = true;
    start({2, 100});
    EnqueueCommand(CMD_READ_TEST);
    ASSERT_TRUE(pumpUntil([&] { return peer.count("00R031") == 1 && idle(); }));
    const std::vector<std::string> expected = {"00R030", "00R030", "00R030", "00R030",
                                               "00R030", "00R030", "00R030", "00R031"};
    EXPECT_EQ(peer.requests(), expected);
    ASSERT_EQ(shown().size(), 1u);
    EXPECT_EQ(shown()[0].text, "通信失败2!");
    EXPECT_EQ(shown()[0].status, "通信故障");
    EXPECT_EQ(view->stops(), 1);
    EXPECT_EQ(view->itemText(FormId::Voltage), "60 V");
}

TEST_F(CommandCycleTest, RunStateIsAskedOnceAndItsReplyCanEndTheTest) {
    std::atomic<bool> stopped{false};
    ScriptedPeer peer(pty, [&](const std::string& text, int) -> std::optional<std::string> {
        if (text != "02R071") return ScriptedPeer::instrument(text);
        if (!stopped) return std::nullopt;
        return std::string("0071 0000000");
    });
    view->m_started = true;
    start({2, 200});
    EnqueueCommand(CMD_READ_RUNSTATE);
    ASSERT_TRUE(pumpUntil([&] { return peer.count("02R071") == 1 && idle(); }));
    pumpFor(100);
    EXPECT_EQ(peer.count("02R071"), 1);
    EXPECT_EQ(boxes.count(), 0);
    EXPECT_TRUE(view->finishes().empty());

    stopped = true;
    EnqueueCommand(CMD_READ_RUNSTATE);
    ASSERT_TRUE(pumpUntil([&] { return view->finishes().size() == 1; }));
    EXPECT_FALSE(view->finishes()[0].sendStop);
}

// A new cycle started while one runs (its stop event replaced in the form's slot without
// being set, as a new initialisation does): the one before ends, and the queue's codes are
// each run once, by the new cycle alone.
TEST_F(CommandCycleTest, ANewCycleEndsTheOneBeforeAndNeverSharesTheQueue) {
    ScriptedPeer peer(pty, silentOn(""));
    view->m_started = true;
    start({2, 200});
    ASSERT_EQ(threadsRunning(), 2);  // the receive thread and the cycle
    view->stopEvent().create();
    ASSERT_TRUE(StartCommandCycle(view));
    // Three: the cycle before did not end; one: the new cycle or the receive thread ended too.
    EXPECT_TRUE(pumpUntil([] { return threadsRunning() == 2; }))
        << "threads running: " << threadsRunning();

    for (int i = 0; i < 3; ++i) EnqueueCommand(CMD_READ_CHANNELS);
    ASSERT_TRUE(pumpUntil([&] { return peer.requests().size() >= 36 && idle(); }));
    pumpFor(100);
    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i) {
        const std::vector<std::string> poll = channelRequests();
        expected.insert(expected.end(), poll.begin(), poll.end());
    }
    EXPECT_EQ(peer.requests(), expected);
    EXPECT_EQ(view->pollsDone(), 3);
}

TEST_F(CommandCycleTest, StopEndsEveryWaitAtOnce) {
    ScriptedPeer peer(pty, silentOn("10R010"));
    view->m_started = true;
    start({10, 60000});
    EnqueueCommand(CMD_READ_CHANNELS);
    ASSERT_TRUE(pumpUntil([&] { return peer.count("10R010") == 1; }));
    // Unstopped, the cycle would wait a minute for each of ten repeats: ending within the
    // helper's limit can only be the stop's doing.
    view->stopEvent().setAndClose();
    ASSERT_TRUE(pumpUntil([] { return threadsRunning() == 1; }));

    // The flag alone does the same.
    g_nCurCommand = CMD_READ_CHANNELS;
    ASSERT_TRUE(StartCommandCycle(view));
    ASSERT_TRUE(pumpUntil([&] { return peer.count("10R010") == 2; }));
    g_bWorkerRun = 0;
    ASSERT_TRUE(pumpUntil([] { return threadsRunning() == 1; }));
    EXPECT_EQ(boxes.count(), 0);
}

}  // namespace

namespace {

std::vector<std::string> times(int n, const std::string& text) {
    return std::vector<std::string>(static_cast<std::size_t>(n), text);
}

// At the real timing a reply may take most of the second the cycle waits for it.
TEST_F(CommandCycleTest, AReplyAfterSixHundredMillisecondsNeedsNoRepeatAtTheRealTiming) {
    ScriptedPeer peer(pty, [](const std::string& text, int) {
        if (text == "10R010") std::this_thread::sleep_for(std::chrono::milliseconds(600));
        return ScriptedPeer::instrument(text);
    });
    view->m_started = true;
    start(CycleTiming{});
    EnqueueCommand(CMD_READ_CHANNELS);
    ASSERT_TRUE(pumpUntil([&] { return peer.count("15R060") == 1 && idle(); }));
    EXPECT_EQ(peer.requests(), channelRequests());
    EXPECT_EQ(view->channelCell(0, 4), "10.50(mA)");
    EXPECT_EQ(g_nRetry.load(), 0u);
    EXPECT_EQ(boxes.count(), 0);
}

// A retry sequence that ends with an answer on its fifth repeat leaves the count at 5; the
// next silence still gets its own six repeats and its message.
TEST_F(CommandCycleTest, AnAnswerOnTheSixthSendStillLeavesTheNextSilenceReported) {
    watchMessages();
    ScriptedPeer peer(pty, [](const std::string& text, int nth) -> std::optional<std::string> {
        if ((text == "10R010" && nth < 6) || text == "10R060") return std::nullopt;
        return ScriptedPeer::instrument(text);
    });
    view->m_started = true;
    start({2, 80});
    EnqueueCommand(CMD_READ_CHANNELS);
    ASSERT_TRUE(pumpUntil([&] { return view->stops() == 1 && idle(); }));
    std::vector<std::string> expected = times(6, "10R010");
    for (const std::string& r : times(7, "10R060")) expected.push_back(r);
    EXPECT_EQ(peer.requests(), expected);
    EXPECT_EQ(view->channelCell(0, 4), "10.50(mA)");
    ASSERT_EQ(shown().size(), 1u);
    EXPECT_EQ(shown()[0].text, "通信失败4!");
    EXPECT_EQ(shown()[0].status, "通信故障");
}

// Code 2, the minute count of a recovered test: asked with repeats, never finishing the test
// by itself; the run control's decision says what follows.
TEST_F(CommandCycleTest, MinuteCheckUnansweredReportsAndLeavesTheCycleIdle) {
    watchMessages();
    g_nTestMinutes = 360;
    ScriptedPeer peer(pty, silentOn("00R031"));
    start({2, 60});
    g_nCurCommand = CMD_CHECK_MINUTES;
    ASSERT_TRUE(pumpUntil([&] { return shown().size() == 1 && idle(); }));
    EXPECT_EQ(peer.requests(), times(7, "00R031"));
    EXPECT_EQ(shown()[0].text, "通信失败1!");
    EXPECT_EQ(shown()[0].status, "通信故障");
    EXPECT_TRUE(pumpUntil([&] { return view->enabled(FormId::StartButton); }));
    EXPECT_TRUE(view->checkedMinutes().empty());
    EXPECT_EQ(view->stops(), 0);
    EXPECT_TRUE(view->finishes().empty());

    // The cycle runs on and takes the next code.
    EnqueueCommand(CMD_READ_RUNSTATE);
    EXPECT_TRUE(pumpUntil([&] { return peer.count("02R071") == 1 && idle(); }));
    EXPECT_EQ(threadsRunning(), 2);
}

TEST_F(CommandCycleTest, MinuteCheckAnsweredAsksTheRunControlAndResumesOrRefuses) {
    g_nTestMinutes = 360;
    ScriptedPeer peer(pty, [](const std::string& text, int nth) -> std::optional<std::string> {
        if (text == "00R031" && nth == 1) return std::nullopt;  // the first repeat answers
        if (text == "00R031") return std::string("0031 0000042");
        return ScriptedPeer::instrument(text);
    });
    start({2, 100});
    g_nCurCommand = CMD_CHECK_MINUTES;
    ASSERT_TRUE(pumpUntil([&] { return view->checkedMinutes().size() == 1 && idle(); }));
    EXPECT_EQ(view->checkedMinutes()[0], 42);
    EXPECT_EQ(g_nInstrumentMinutes.load(), 42);
    EXPECT_EQ(peer.requests(), times(2, "00R031"));
    EXPECT_EQ(view->itemText(FormId::CommStatus), "通信正常");
    EXPECT_EQ(view->itemText(FormId::RemainingMinutes), "");  // the run control's to show

    view->m_decision = ResumeDecision::Refuse;
    g_nCurCommand = CMD_CHECK_MINUTES;
    ASSERT_TRUE(pumpUntil([&] { return view->checkedMinutes().size() == 2 && idle(); }));
    pumpFor(50);
    EXPECT_EQ(peer.requests(), times(3, "00R031"));
    EXPECT_TRUE(view->finishes().empty());
    EXPECT_EQ(view->pollsDone(), 0);
    EXPECT_EQ(boxes.count(), 0);
    EXPECT_EQ(threadsRunning(), 2);
}

TEST_F(CommandCycleTest, MinuteCheckPastTheDurationPollsOnceAndFinishes) {
    g_nTestMinutes = 360;
    ScriptedPeer peer(pty, [](const std::string& text, int) -> std::optional<std::string> {
        if (text == "00R031") return std::string("0031 0000400");
        return ScriptedPeer::instrument(text);
    });
    view->m_decision = ResumeDecision::FinishNow;
    start({2, 200});
    g_nCurCommand = CMD_CHECK_MINUTES;
    ASSERT_TRUE(pumpUntil([&] { return view->finishes().size() == 1 && threadsRunning() == 1; }));
    std::vector<std::string> expected = {"00R031"};
    for (const std::string& r : channelRequests()) expected.push_back(r);
    EXPECT_EQ(peer.requests(), expected);
    EXPECT_EQ(view->checkedMinutes(), std::vector<int32_t>{400});
    EXPECT_TRUE(view->finishes()[0].sendStop);
    EXPECT_EQ(view->finishes()[0].prompt, "请确认是否保存图片！");
    EXPECT_EQ(view->pollsDone(), 1);
    EXPECT_EQ(view->channelCell(5, 5), "25.25(C)");
    EXPECT_TRUE(idle());
}

}  // namespace
