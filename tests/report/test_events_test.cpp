#include "report/test_events.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

using archive::TestState;

QStringList Texts(const archive::ArchivedTest& test, const std::vector<archive::AuditRow>& audit) {
    QStringList texts;
    for (const TestEvent& e : TestEvents(test, audit)) texts << e.text;
    return texts;
}

}  // namespace

// The report tells each pause by the cause the program recorded with it, never by the
// readings around it, and a recovery by the trail's record of it, also after a pause.
TEST(TestEvents, EachPauseAndRecoveryIsToldByItsRecordedCause) {
    archive::ArchivedTest test;
    test.header.user = QStringLiteral("李明");
    test.states = {{TestState::Running, 0},          {TestState::Paused, 10'000},
                   {TestState::Running, 20'000},     {TestState::Paused, 30'000},
                   {TestState::Running, 40'000},     {TestState::Paused, 45'000},
                   {TestState::Running, 50'000},     {TestState::Running, 55'000},
                   {TestState::Paused, 58'000},      {TestState::Running, 70'000},
                   {TestState::CommFailure, 80'000}, {TestState::FinishedByInstrument, 90'000},
                   {TestState::Closed, 95'000}};
    // The watch records its pause a moment before the state, the operator's names its user;
    // the pause at 45 s has no recorded cause; the program died during the pause at 58 s.
    const std::vector<archive::AuditRow> audit = {
        {9'990, "paused_temperature", "李明", "暂停（温度超限）：试件温度 90.4 ℃"},
        {30'002, "paused_operator", "王芳", "暂停（操作员）"},
        {58'001, "paused_operator", "李明", "暂停（操作员）"},
        {65'000, "recovered", "赵磊", "恢复实验"}};
    EXPECT_EQ(Texts(test, audit),
              (QStringList{
                  "开始试验", "试件温度达到90℃（读数 90.4 ℃），程序自动暂停试验", "继续试验",
                  "操作员暂停试验（王芳）", "继续试验", "试验暂停（暂停原因未记录）", "继续试验",
                  "程序意外退出（时间为退出前最后保存的数据）", "程序意外退出后恢复，继续试验",
                  "操作员暂停试验（李明）", "暂停期间程序意外退出（时间为退出前最后保存的数据）",
                  "程序意外退出后恢复，继续试验", "通信故障，试验停止", "仪器自行停止，试验结束"}));
    EXPECT_EQ(UnfinishedEnding(test), "");

    // Hot readings before a pause the operator asked for do not make it the watch's.
    test.states = {{TestState::Running, 0}, {TestState::Paused, 10'000}};
    EXPECT_EQ(Texts(test, {{10'001, "paused_operator", "李明", ""}}),
              (QStringList{"开始试验", "操作员暂停试验（李明）"}));
    EXPECT_EQ(UnfinishedEnding(test), "试验暂停中");

    // Declined, or the instrument restarted meanwhile.
    test.states = {{TestState::Running, 0}, {TestState::Interrupted, 9'000}};
    EXPECT_EQ(Texts(test, {{8'000, "recovery_declined", "王芳", ""}}).mid(1),
              (QStringList{"程序意外退出（时间为退出前最后保存的数据）",
                           "程序意外退出后，操作员放弃恢复（王芳），试验中断"}));
    EXPECT_EQ(Texts(test, {{8'000, "recovered", "王芳", ""}}).last(),
              "程序意外退出后恢复时，仪器已重新启动，无法继续，试验中断");
    EXPECT_EQ(UnfinishedEnding(test), "试验中断");
}

TEST(TestEvents, AnUnfinishedTestSaysHowItWasLeft) {
    struct Case {
        std::vector<TestState> states;
        bool closed;
        const char* ending;
    };
    const Case cases[] = {
        {{TestState::Running, TestState::FinishedByMinutes, TestState::Closed}, true, ""},
        {{TestState::Running, TestState::Paused, TestState::Closed}, true, "暂停后关闭试验窗口"},
        {{TestState::Running, TestState::CommFailure}, false, "通信故障后没有继续"},
        {{TestState::Running}, false, "试验仍在进行，或程序意外退出后没有恢复"},
        {{TestState::Running, TestState::Closed, TestState::Interrupted}, true, "试验中断"},
        {{}, false, "试验没有开始"},
    };
    for (const Case& c : cases) {
        archive::ArchivedTest test;
        test.closed = c.closed;
        for (TestState s : c.states) test.states.push_back({s, 0});
        EXPECT_EQ(UnfinishedEnding(test), QString::fromUtf8(c.ending)) << c.ending;
    }
    archive::ArchivedTest closedEarly;
    closedEarly.states = {{TestState::Running, 0}, {TestState::Closed, 5'000}};
    EXPECT_EQ(Texts(closedEarly, {}), (QStringList{"开始试验", "试验未完成时关闭试验窗口"}));
}
