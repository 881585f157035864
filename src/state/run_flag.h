#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/manual_reset_event.h"

// A one-byte run flag of the link threads (g_bWorkerRun, g_bLinkActive). Reading it is a
// plain atomic load, as the design polls it; clearing it also sets cleared(), so a thread
// that sleeps until it is told to stop wakes at once instead of looking every few
// milliseconds.
class RunFlag {
  public:
    explicit RunFlag(uint8_t value) : m_value(value), m_cleared(value == 0) {}
    RunFlag(const RunFlag&) = delete;
    RunFlag& operator=(const RunFlag&) = delete;

    uint8_t load() const { return m_value.load(); }
    operator uint8_t() const { return load(); }

    void store(uint8_t value) {
        // Value and event change together, so a waiter never sees the event set while the
        // flag is up (it would wake, find nothing to do and wake again at once).
        std::lock_guard lock(m_mutex);
        m_value.store(value);
        if (value == 0)
            m_cleared.set();
        else
            m_cleared.reset();
    }
    RunFlag& operator=(uint8_t value) {
        store(value);
        return *this;
    }

    // Set while the flag is 0.
    const ManualResetEvent& cleared() const { return m_cleared; }

  private:
    std::mutex m_mutex;
    std::atomic<uint8_t> m_value;
    ManualResetEvent m_cleared;
};
