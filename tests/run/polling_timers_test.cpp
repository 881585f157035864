#include "app/polling_timers.h"

#include <gtest/gtest.h>

#include <climits>
#include <thread>

#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "platform/time_scale.h"
#include "run/posted_messages.h"
#include "state/test_state.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"

namespace {

std::vector<int> queuedCodes() {
    std::vector<int> codes;
    for (uint8_t i = g_cmdQueueTail; i != g_cmdQueueHead; i = (i + 1) % COMMAND_QUEUE_SIZE)
        codes.push_back(g_cmdQueue[i]);
    return codes;
}

class PollingTimersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTestStateForTests();
        UseNoPort();
        g_nRecordInterval = 1;
    }
    void TearDown() override { TimeScale::setFactor(1); }
    ScriptedMessageBoxes boxes;
};

TEST_F(PollingTimersTest, StartArmsTheThreeTimersAndPollsTheChannelsAtOnce) {
    PollingTimers timers;
    timers.handleMessage(WM_TIMERS_START);
    EXPECT_EQ(timers.period(1), 2000);
    EXPECT_EQ(timers.period(2), 2000);
    EXPECT_EQ(timers.period(3), 5000);
    EXPECT_EQ(queuedCodes(), std::vector<int>{CMD_READ_CHANNELS});

    timers.onTimer(1);
    timers.onTimer(2);
    EXPECT_EQ(queuedCodes(), (std::vector<int>{3, 1, 3}));

    // Interval of one minute: the record timer fires after 5 s, then every 60000 ms.
    timers.onTimer(3);
    EXPECT_EQ(queuedCodes().back(), CMD_READ_RUNSTATE);
    EXPECT_EQ(timers.period(3), 60000);
    timers.onTimer(3);
    EXPECT_EQ(timers.period(3), 60000);

    // A second start without a stop begins again with the 5 s wait and one more poll.
    EmptyCommandQueue();
    timers.handleMessage(WM_TIMERS_START);
    EXPECT_EQ(timers.period(3), 5000);
    EXPECT_EQ(queuedCodes(), std::vector<int>{CMD_READ_CHANNELS});

    timers.handleMessage(WM_TIMERS_STOP);
    for (int id : {1, 2, 3}) EXPECT_FALSE(timers.isActive(id)) << id;
    timers.handleMessage(WM_RECORD_SAMPLE);  // not a message of the main frame
    EXPECT_FALSE(timers.isActive(1));
}

TEST_F(PollingTimersTest, RecordPeriodIsGuardedAgainstIntervalsNoTimerCanHold) {
    g_nRecordInterval = 360;
    EXPECT_EQ(PollingTimers::recordPeriodMs(), 21600000);
    g_nRecordInterval = INT_MAX;
    EXPECT_EQ(PollingTimers::recordPeriodMs(), 35791 * 60000);
    g_nRecordInterval = 35792;  // 2147520000 ms would overflow
    EXPECT_EQ(PollingTimers::recordPeriodMs(), 35791 * 60000);

    for (int interval : {0, -5, INT_MIN}) {
        g_nRecordInterval = interval;
        EXPECT_EQ(PollingTimers::recordPeriodMs(), 0) << interval;
        PollingTimers timers;
        timers.start();
        timers.onTimer(3);  // the 5 s record is taken, then the record timer stops
        EXPECT_FALSE(timers.isActive(3));
        EXPECT_TRUE(timers.isActive(1));
        EXPECT_EQ(queuedCodes().back(), CMD_READ_RUNSTATE);
        EmptyCommandQueue();
    }
}

TEST_F(PollingTimersTest, MessagesFromAnyThreadReachTheTimersOnTheGuiThread) {
    PollingTimers timers;
    std::thread poster([] { PostToMainFrame(WM_TIMERS_START); });
    poster.join();
    EXPECT_FALSE(timers.isActive(1));  // queued, not run on the poster's thread
    ASSERT_TRUE(PumpUntil([&] { return timers.isActive(1); }));
    std::thread([] { PostToMainFrame(WM_TIMERS_STOP); }).join();
    ASSERT_TRUE(PumpUntil([&] { return !timers.isActive(3); }));
}

TEST_F(PollingTimersTest, TheRecordTimerTakesARecordOnTheFormOnTheRunningClock) {
    TimeScale::setFactor(100);  // 5 s in 50 ms, a minute in 600 ms
    Testclass form;
    form.OnInitialUpdate();
    form.setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信正常"));
    PollingTimers timers;
    timers.start();
    ASSERT_TRUE(PumpUntil([&] { return form.historyRowCount(0) == 1; }));
    EXPECT_EQ(timers.period(3), 60000);
    EXPECT_TRUE(timers.isActive(3));
    timers.stop();
    PumpFor(20);
    EXPECT_EQ(form.historyRowCount(0), 1);
}

TEST_F(PollingTimersTest, ARecordPostedAfterTheFormWentAwayIsDropped) {
    {
        Testclass form;
        form.OnInitialUpdate();
        PostToTestView(WM_RECORD_SAMPLE);
    }
    PumpFor(20);  // nothing to crash on
    EXPECT_TRUE(g_pTestView.isNull());
}

}  // namespace
