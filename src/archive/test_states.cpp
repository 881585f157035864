#include "archive/test_states.h"

#include <array>
#include <utility>

namespace archive {
namespace {

constexpr std::array<std::pair<TestState, const char*>, 7> kNames{{
    {TestState::Running, "running"},
    {TestState::Paused, "paused"},
    {TestState::CommFailure, "comm_failure"},
    {TestState::FinishedByMinutes, "finished_minutes"},
    {TestState::FinishedByInstrument, "finished_instrument"},
    {TestState::Closed, "closed"},
    {TestState::Interrupted, "interrupted"},
}};

}  // namespace

QString StateText(TestState state) {
    switch (state) {
        case TestState::Running:
            return QStringLiteral("运行中");
        case TestState::Paused:
            return QStringLiteral("暂停");
        case TestState::CommFailure:
            return QStringLiteral("通信故障");
        case TestState::FinishedByMinutes:
            return QStringLiteral("完成");
        case TestState::FinishedByInstrument:
            return QStringLiteral("仪器停止");
        case TestState::Closed:
        case TestState::Interrupted:
            return QStringLiteral("中断");
    }
    return QString();
}

const char* StateName(TestState state) {
    for (const auto& [s, name] : kNames)
        if (s == state) return name;
    return "";
}

std::optional<TestState> StateFromName(const QString& name) {
    for (const auto& [s, text] : kNames)
        if (name == QLatin1String(text)) return s;
    return std::nullopt;
}

bool IsUnfinished(TestState state) {
    return state == TestState::Running || state == TestState::Paused ||
           state == TestState::CommFailure;
}

}  // namespace archive
