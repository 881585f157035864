#pragma once

class QWidget;

// For start-up timing: once `window` has painted for the first time, prints
// "shown <ms>" (milliseconds since `startNs` on the steady clock) to stdout and ends the
// event loop. Used when KIVO_EXIT_WHEN_SHOWN=1 is set.
void ExitWhenFirstShown(QWidget* window, long long startNs);

// Nanoseconds on the steady clock.
long long SteadyNowNs();
