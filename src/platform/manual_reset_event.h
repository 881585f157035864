#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// An event that stays signalled once set, until it is reset: the threads of the
// instrument link meet through such events.
class ManualResetEvent {
public:
    explicit ManualResetEvent(bool initiallySet = false) : m_set(initiallySet) {}
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void set();
    void reset();
    bool isSet() const;
    // Waits until the event is set or `ms` milliseconds have passed; true when set.
    bool wait_for(int ms) const;
    void wait() const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    bool m_set;
};
