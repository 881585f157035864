#include "report/test_events.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

using archive::TestState;

archive::PollRow Poll(qint64 atMs, const char* celsius) {
    archive::PollRow poll;
    poll.atMs = atMs;
    poll.temperature = QString::fromLatin1(celsius);
    return poll;
}

}  // namespace

// The report tells what paused a test from the polls before the pause, a recovery from a
// start that follows a running state, and leaves out closing the window after the end.
TEST(TestEvents, CausesAreReadFromTheStatesAndThePollsBeforeThem) {
    archive::ArchivedTest test;
    test.header.user = QStringLiteral("李明");
    test.states = {{TestState::Running, 0},
                   {TestState::Paused, 10'000},
                   {TestState::Running, 20'000},
                   {TestState::Paused, 30'000},
                   {TestState::Running, 40'000},
                   {TestState::Running, 50'000},
                   {TestState::CommFailure, 60'000},
                   {TestState::Running, 70'000},
                   {TestState::FinishedByInstrument, 80'000},
                   {TestState::Closed, 90'000}};
    // Before the first pause one hot reading only; before the second two in a row.
    const std::vector<archive::PollRow> polls = {Poll(6'000, "89.9"),  Poll(8'000, "90.0"),
                                                 Poll(26'000, "90.0"), Poll(28'000, "91.5"),
                                                 Poll(32'000, "95.0"), Poll(34'000, "95.0")};
    QStringList texts;
    for (const TestEvent& e : TestEvents(test, polls)) texts << e.text;
    EXPECT_EQ(texts, (QStringList{"开始试验", "操作员暂停试验（李明）", "继续试验",
                                  "试件温度达到90℃，程序自动暂停试验", "继续试验",
                                  "程序意外退出后恢复试验", "通信故障，试验停止", "继续试验",
                                  "仪器自行停止，试验结束"}));

    const std::optional<HighestTemperature> hot = HighestTemperatureOf(test, polls);
    ASSERT_TRUE(hot);
    EXPECT_EQ(hot->celsius, 95.0);
    EXPECT_EQ(hot->atMs, 32'000);  // the first time it was read

    // A window closed before the end, and a test that was not taken up again.
    test.states = {
        {TestState::Running, 0}, {TestState::Closed, 5'000}, {TestState::Interrupted, 6'000}};
    texts.clear();
    for (const TestEvent& e : TestEvents(test, {})) texts << e.text;
    EXPECT_EQ(texts, (QStringList{"开始试验", "试验未完成时关闭试验窗口",
                                  "程序意外退出后未能继续，试验中断"}));
    EXPECT_FALSE(HighestTemperatureOf(test, {}));
}
