#pragma once

class QObject;

// The program's posted messages (WM_TIMERS_START, WM_TIMERS_STOP to the main frame;
// WM_RECORD_SAMPLE to the test form) travel as queued calls on the GUI thread.
// Callable from any thread; a message with no receiver is dropped.
void PostToMainFrame(int message);
void PostToTestView(int message);

// The object that takes the main frame's messages (the main frame's polling timers).
using MainFrameReceiver = void (*)(QObject* target, int message);
void SetMainFrameReceiver(QObject* target, MainFrameReceiver receiver);
