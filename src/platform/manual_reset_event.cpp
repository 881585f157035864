#include "platform/manual_reset_event.h"

void ManualResetEvent::set() {
    {
        std::lock_guard lock(m_mutex);
        m_set = true;
    }
    m_cv.notify_all();
}

void ManualResetEvent::reset() {
    std::lock_guard lock(m_mutex);
    m_set = false;
}

bool ManualResetEvent::isSet() const {
    std::lock_guard lock(m_mutex);
    return m_set;
}

bool ManualResetEvent::wait_for(int ms) const {
    std::unique_lock lock(m_mutex);
    if (ms <= 0) return m_set;
    return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_set; });
}

void ManualResetEvent::wait() const {
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return m_set; });
}
