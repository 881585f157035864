#pragma once

#include <QString>
#include <optional>

// The states a test passes through, as the archive keeps them.
namespace archive {

enum class TestState {
    Running,
    Paused,
    CommFailure,
    FinishedByMinutes,     // the instrument's minute count reached the test minutes
    FinishedByInstrument,  // the instrument stopped by its own timer
    Closed,                // the test window was closed
    Interrupted,           // the operator declined to recover the test after a crash
};

// The word the test list shows: 运行中 暂停 通信故障 完成 仪器停止 中断. A test whose window
// was closed before it finished reads 中断 as well.
QString StateText(TestState state);

// The name stored in the archive ("running", "finished_minutes", ...) and back.
const char* StateName(TestState state);
std::optional<TestState> StateFromName(const QString& name);

// True for the states of a test that has not come to an end (it may still be recovered).
bool IsUnfinished(TestState state);

}  // namespace archive
