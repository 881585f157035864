#pragma once

#include <atomic>
#include <cstdint>

#include "platform/manual_reset_event.h"

// g_nCurCommand: the code the command cycle is executing, 0 when idle. Whoever sets a code
// (the cycle itself, or the run control, which sets 1 after the initialisation box) also
// sets `wake`, the event an idle cycle sleeps on, so the code runs at once.
class CommandCode {
  public:
    explicit CommandCode(ManualResetEvent& wake) : m_wake(wake) {}
    CommandCode(const CommandCode&) = delete;
    CommandCode& operator=(const CommandCode&) = delete;

    uint8_t load() const { return m_value.load(); }
    operator uint8_t() const { return load(); }

    void store(uint8_t code) {
        m_value.store(code);
        if (code != 0) m_wake.set();
    }
    CommandCode& operator=(uint8_t code) {
        store(code);
        return *this;
    }

  private:
    std::atomic<uint8_t> m_value{0};
    ManualResetEvent& m_wake;
};
