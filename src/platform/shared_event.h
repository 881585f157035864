#pragma once

#include <memory>
#include <mutex>

#include "platform/manual_reset_event.h"

// A slot for an event that is created, signalled and forgotten at run time ("set it, close
// it, set it to none"), shared between threads. A thread that took the event before it
// was forgotten keeps a valid object.
class SharedEvent {
public:
    // A new, unsignalled event in the slot; returns it.
    std::shared_ptr<ManualResetEvent> create() {
        auto event = std::make_shared<ManualResetEvent>();
        std::lock_guard lock(m_mutex);
        m_event = event;
        return event;
    }
    // The event in the slot, or none.
    std::shared_ptr<ManualResetEvent> get() const {
        std::lock_guard lock(m_mutex);
        return m_event;
    }
    bool exists() const { return get() != nullptr; }
    // When an event is in the slot: signal it and empty the slot.
    void setAndClose() {
        std::shared_ptr<ManualResetEvent> event;
        {
            std::lock_guard lock(m_mutex);
            event.swap(m_event);
        }
        if (event) event->set();
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_event.reset();
    }

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<ManualResetEvent> m_event;
};
