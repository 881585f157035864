#pragma once

#include <functional>

// The threads of the instrument link (receive thread, command cycle). The design lets them
// run detached; here every one is kept, so that it can be joined before the program's
// objects go away. A thread reaches the test form only through the form's link object and
// the GUI gate, both of which outlive it.
namespace LinkThreads {

// Starts `fn` on a new thread; false when the thread cannot be created.
bool start(std::function<void()> fn);
// Joins the threads that have already ended.
void joinFinished();
// Joins every thread. Call only when nothing keeps them waiting on the GUI thread (the
// gate is closed and their stop flags are clear).
void joinAll();
// Number of threads started and not yet joined.
int count();

}  // namespace LinkThreads
