#pragma once

// Running the GUI event loop from a benchmark's main().

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

// Runs the event loop for `ms` wall milliseconds.
inline void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` holds, looking every `stepMs`; false after `ms`.
template <typename Fn>
bool runUntil(Fn done, int ms, int stepMs = 50) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        runFor(stepMs);
    }
    return true;
}
