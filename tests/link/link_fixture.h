#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include "link/command_cycle.h"
#include "link/link_threads.h"
#include "link/reply_decoder.h"
#include "link/serial_channel.h"
#include "platform/gui_gate.h"
#include "pty_peer.h"
#include "state/test_state.h"
#include "support/recording_view.h"
#include "support/scripted_dialogs.h"

// Runs the GUI thread's work (message boxes from the link threads) until `done` holds or
// `timeoutMs` has passed; the result of `done`. The limit is only for what never comes: a
// loaded machine may take seconds for what takes milliseconds when it is idle.
inline bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Pumps for `ms` milliseconds.
inline void pumpFor(int ms) {
    pumpUntil([] { return false; }, ms);
}

// Every link thread has ended and been joined (they are told to stop first).
inline bool stopLinkThreads(const std::shared_ptr<LinkView>& view) {
    g_bWorkerRun = 0;
    g_bLinkActive = 0;
    if (view) view->stopEvent().setAndClose();
    g_hRxStopEvent.setAndClose();
    return pumpUntil([] {
        LinkThreads::joinFinished();
        return LinkThreads::count() == 0;
    });
}

// A link test: fresh test state, a pseudo-terminal as COM1, message boxes answered and
// recorded, a recording form, and nothing left running afterwards.
class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTestStateForTests();
        ResetReplyAccumulator();
        GuiGate::instance().open();
        ClosePort();
        setenv("KIVO_COM1", pty.slavePath().c_str(), 1);
        view = std::make_shared<RecordingView>();
    }
    void TearDown() override {
        EXPECT_TRUE(stopLinkThreads(view));
        ClosePort();
        SetReceiveSinkForTests(nullptr);
        SetCommandCycleTimingForTests(CycleTiming{});
        unsetenv("KIVO_COM1");
    }

    Pty pty;
    ScriptedMessageBoxes boxes;
    std::shared_ptr<RecordingView> view;
};
