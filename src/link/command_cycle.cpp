#include "link/command_cycle.h"

namespace {
CycleTiming g_timing;
}

void CommandThreadProc(std::shared_ptr<TestView>, CycleTiming) {}
bool StartCommandCycle(std::shared_ptr<TestView>) { return false; }
CycleTiming CommandCycleTiming() { return g_timing; }
void SetCommandCycleTimingForTests(CycleTiming timing) { g_timing = timing; }
