#pragma once

#include <memory>

class LinkView;

// The waits of the command cycle. The defaults are the program's real timings; tests may
// run the cycle with shorter waits.
struct CycleTiming {
    int passMs = 10;     // the pause after a repeated request, before the next one
    int replyMs = 1000;  // a request waits this long for its reply
};

// The command-cycle thread's routine: runs queued command codes one at a time.
void CommandThreadProc(std::shared_ptr<LinkView> view, CycleTiming timing);

// Starts CommandThreadProc for `view` on a new thread with the current timing; false when
// the thread cannot be created.
bool StartCommandCycle(std::shared_ptr<LinkView> view);

CycleTiming CommandCycleTiming();
void SetCommandCycleTimingForTests(CycleTiming timing);
