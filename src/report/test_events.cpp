#include "report/test_events.h"

#include <algorithm>
#include <initializer_list>
#include <limits>

#include "report/reading_value.h"

namespace {

using archive::AuditRow;
using archive::TestState;

const QString kReadingPrefix = QStringLiteral("：试件温度 ");

// The audit events, each used for at most one state change.
class Trail {
  public:
    explicit Trail(const std::vector<AuditRow>& rows) : m_rows(rows), m_used(rows.size()) {}

    // The earliest unused event among `actions` recorded after `from` and up to `to`
    // (milliseconds); it is used up.
    const AuditRow* take(std::initializer_list<const char*> actions, qint64 from, qint64 to) {
        for (size_t i = 0; i < m_rows.size(); ++i) {
            const AuditRow& row = m_rows[i];
            if (m_used[i] || row.atMs <= from || row.atMs > to) continue;
            for (const char* action : actions) {
                if (row.action != QLatin1String(action)) continue;
                m_used[i] = true;
                return &row;
            }
        }
        return nullptr;
    }

  private:
    const std::vector<AuditRow>& m_rows;
    std::vector<bool> m_used;
};

// A recorded event comes a moment after the state change it goes with, or just before it
// (the watch records its pause, then stops the test).
constexpr qint64 kSlackMs = 2000;

QString PauseText(const AuditRow* cause, const QString& fallbackUser) {
    if (!cause) return QStringLiteral("试验暂停（暂停原因未记录）");
    if (cause->action == QLatin1String("paused_temperature")) {
        const std::optional<double> celsius = PauseTemperature(cause->detail);
        return celsius ? QStringLiteral("试件温度达到90℃（读数 %1 ℃），程序自动暂停试验")
                             .arg(*celsius, 0, 'f', 1)
                       : QStringLiteral("试件温度达到90℃，程序自动暂停试验");
    }
    const QString user = cause->user.isEmpty() ? fallbackUser : cause->user;
    return QStringLiteral("操作员暂停试验（%1）").arg(user);
}

}  // namespace

std::optional<double> PauseTemperature(const QString& detail) {
    const qsizetype at = detail.indexOf(kReadingPrefix);
    if (at < 0) return std::nullopt;
    QString reading = detail.mid(at + kReadingPrefix.size());
    reading.remove(QStringLiteral("℃"));
    return ReadingValue(reading);
}

std::vector<TestEvent> TestEvents(const archive::ArchivedTest& test,
                                  const std::vector<AuditRow>& audit,
                                  const std::vector<archive::PollRow>& polls) {
    constexpr qint64 kNever = std::numeric_limits<qint64>::max();
    std::vector<TestEvent> events;
    Trail trail(audit);
    const QString user = test.header.user.isEmpty() ? test.header.tester : test.header.user;
    const std::vector<archive::StateChange>& states = test.states;
    std::optional<TestState> previous;
    qint64 previousAt = std::numeric_limits<qint64>::min() / 2;
    for (size_t i = 0; i < states.size(); ++i) {
        const archive::StateChange& change = states[i];
        const qint64 nextAt = i + 1 < states.size() ? states[i + 1].atMs : kNever - kSlackMs;
        // A recovery after the program died is recorded between the last state and this one.
        const AuditRow* recovery =
            previous ? trail.take({"recovered", "recovery_declined"}, previousAt, change.atMs)
                     : nullptr;
        const bool died =
            recovery || (change.state == TestState::Running && previous == TestState::Running);
        if (died && previous != TestState::Closed) {
            // When it died is not known: the last thing it kept before the recovery stands for it.
            const qint64 bound = recovery ? recovery->atMs : change.atMs;
            qint64 lastKept = previousAt;
            for (const archive::RecordRow& record : test.records)
                if (record.atMs < bound) lastKept = std::max(lastKept, record.atMs);
            for (const archive::PollRow& poll : polls)
                if (poll.atMs < bound) lastKept = std::max(lastKept, poll.atMs);
            events.push_back(
                {lastKept,
                 previous == TestState::Paused
                     ? QStringLiteral("暂停期间程序意外退出（时间为退出前最后保存的数据）")
                     : QStringLiteral("程序意外退出（时间为退出前最后保存的数据）")});
        }
        if (recovery && recovery->action == QLatin1String("recovered") &&
            change.state != TestState::Running && change.state != TestState::Interrupted)
            events.push_back({recovery->atMs, QStringLiteral("程序意外退出后恢复试验窗口")});
        QString text;
        switch (change.state) {
            case TestState::Running:
                if (!previous)
                    text = QStringLiteral("开始试验");
                else if (died)
                    text = QStringLiteral("程序意外退出后恢复，继续试验");
                else
                    text = QStringLiteral("继续试验");
                break;
            case TestState::Paused:
                text = PauseText(trail.take({"paused_temperature", "paused_operator"},
                                            previousAt - kSlackMs, nextAt + kSlackMs),
                                 user);
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
                if (recovery && recovery->action == QLatin1String("recovery_declined"))
                    text = QStringLiteral("程序意外退出后，操作员放弃恢复（%1），试验中断")
                               .arg(recovery->user.isEmpty() ? user : recovery->user);
                else if (recovery)
                    text =
                        QStringLiteral("程序意外退出后恢复时，仪器已重新启动，无法继续，试验中断");
                else
                    text = QStringLiteral("程序意外退出后未能继续，试验中断");
                break;
        }
        // A closed window is no state the test is in: what follows continues from before it.
        if (change.state != TestState::Closed) {
            previous = change.state;
        } else if (!previous || !archive::IsUnfinished(*previous)) {
            previous = TestState::Closed;
        }
        previousAt = change.atMs;
        if (!text.isEmpty()) events.push_back({change.atMs, text});
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const TestEvent& a, const TestEvent& b) { return a.atMs < b.atMs; });
    return events;
}

QString UnfinishedEnding(const archive::ArchivedTest& test) {
    std::optional<TestState> last;
    for (const archive::StateChange& change : test.states)
        if (change.state != TestState::Closed) last = change.state;
    if (!last) return QStringLiteral("试验没有开始");
    switch (*last) {
        case TestState::FinishedByMinutes:
        case TestState::FinishedByInstrument:
            return {};
        case TestState::Running:
            return test.closed ? QStringLiteral("运行中关闭试验窗口")
                               : QStringLiteral("试验仍在进行，或程序意外退出后没有恢复");
        case TestState::Paused:
            return test.closed ? QStringLiteral("暂停后关闭试验窗口")
                               : QStringLiteral("试验暂停中");
        case TestState::CommFailure:
            return test.closed ? QStringLiteral("通信故障后关闭试验窗口")
                               : QStringLiteral("通信故障后没有继续");
        case TestState::Interrupted:
        case TestState::Closed:
            break;
    }
    return QStringLiteral("试验中断");
}

std::optional<HighestTemperature> HighestTemperatureOf(const archive::ArchivedTest& test,
                                                       const std::vector<archive::PollRow>& polls) {
    std::optional<HighestTemperature> highest;
    auto consider = [&](const QString& text, qint64 atMs) {
        const std::optional<double> celsius = ReadingValue(text);
        if (celsius && (!highest || *celsius > highest->celsius)) highest = {*celsius, atMs};
    };
    for (const archive::PollRow& poll : polls) consider(poll.temperature, poll.atMs);
    if (polls.empty())
        for (const archive::RecordRow& record : test.records)
            consider(record.temperature, record.atMs);
    return highest;
}
