#pragma once

#include <memory>

class LinkView;

// The waits of the command cycle. The defaults are the program's real timings; tests may
// run the cycle with shorter waits.
struct CycleTiming {
    int passMs = 10;     // the pause after a repeated request, before the next one
    int replyMs = 1000;  // a request waits this long for its reply
};

// Starts the command cycle for `view` on a new thread with the current timing: it runs the
// queued command codes one at a time until its stop event (the one in the view's slot, or
// a new one put there) is set or g_bWorkerRun is cleared. A cycle still running is told to
// stop, and the new one reads the queue only once it has ended. False when the thread
// cannot be created.
bool StartCommandCycle(std::shared_ptr<LinkView> view);

CycleTiming CommandCycleTiming();
void SetCommandCycleTimingForTests(CycleTiming timing);
