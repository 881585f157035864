#include "report/test_events.h"

#include <algorithm>

#include "report/reading_value.h"

namespace {

using archive::TestState;

std::optional<double> Number(const QString& text) { return ReadingValue(text); }

// Whether the two polls before `atMs` both read at least the temperature watch's limit.
bool PausedByHeat(const std::vector<archive::PollRow>& polls, qint64 atMs) {
    constexpr double kLimit = 90.0;
    const auto end =
        std::upper_bound(polls.begin(), polls.end(), atMs,
                         [](qint64 at, const archive::PollRow& poll) { return at < poll.atMs; });
    if (end - polls.begin() < 2) return false;
    for (auto it = end - 2; it != end; ++it) {
        const std::optional<double> celsius = Number(it->temperature);
        if (!celsius || *celsius < kLimit) return false;
    }
    return true;
}

}  // namespace

std::vector<TestEvent> TestEvents(const archive::ArchivedTest& test,
                                  const std::vector<archive::PollRow>& polls) {
    std::vector<TestEvent> events;
    std::optional<TestState> previous;
    const QString user = test.header.user.isEmpty() ? test.header.tester : test.header.user;
    for (const archive::StateChange& change : test.states) {
        QString text;
        switch (change.state) {
            case TestState::Running:
                if (!previous)
                    text = QStringLiteral("开始试验");
                else if (*previous == TestState::Running)
                    text = QStringLiteral("程序意外退出后恢复试验");
                else
                    text = QStringLiteral("继续试验");
                break;
            case TestState::Paused:
                text = PausedByHeat(polls, change.atMs)
                           ? QStringLiteral("试件温度达到90℃，程序自动暂停试验")
                           : QStringLiteral("操作员暂停试验（%1）").arg(user);
                break;
            case TestState::CommFailure:
                text = QStringLiteral("通信故障，试验停止");
                break;
            case TestState::FinishedByMinutes:
                text = QStringLiteral("达到试验时间，试验完成");
                break;
            case TestState::FinishedByInstrument:
                text = QStringLiteral("仪器自行停止，试验结束");
                break;
            case TestState::Closed:
                // Closing the window after the end is no event of the test.
                if (previous && archive::IsUnfinished(*previous))
                    text = QStringLiteral("试验未完成时关闭试验窗口");
                break;
            case TestState::Interrupted:
                text = QStringLiteral("程序意外退出后未能继续，试验中断");
                break;
        }
        previous = change.state;
        if (!text.isEmpty()) events.push_back({change.atMs, text});
    }
    return events;
}

std::optional<HighestTemperature> HighestTemperatureOf(const archive::ArchivedTest& test,
                                                       const std::vector<archive::PollRow>& polls) {
    std::optional<HighestTemperature> highest;
    auto consider = [&](const QString& text, qint64 atMs) {
        const std::optional<double> celsius = Number(text);
        if (celsius && (!highest || *celsius > highest->celsius)) highest = {*celsius, atMs};
    };
    for (const archive::PollRow& poll : polls) consider(poll.temperature, poll.atMs);
    if (polls.empty())
        for (const archive::RecordRow& record : test.records)
            consider(record.temperature, record.atMs);
    return highest;
}
