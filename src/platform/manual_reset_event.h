#pragma once

#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <mutex>

// An event that stays signalled once set, until it is reset: the threads of the
// instrument link meet through such events.
//
// Each event can also be waited for with poll(): fd() is readable exactly while the event is
// set. A thread that waits for several things at once (a reply, a stop, a queued code, input
// on the port) sleeps on all of them together and wakes only when one of them happens.
class ManualResetEvent {
  public:
    explicit ManualResetEvent(bool initiallySet = false);
    ~ManualResetEvent();
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void set();
    void reset();
    bool isSet() const;
    // Waits until the event is set or `ms` milliseconds have passed; true when set.
    bool wait_for(int ms) const;
    void wait() const;

    // Readable while the event is set; -1 when the system gave no descriptor (then the
    // event can still be waited for, by WaitForAny's short turns).
    int fd() const { return m_fd; }

  private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    bool m_set;
    const int m_fd;
};

// Waits until one of `events` is set or `timeoutMs` has passed (a negative time waits without
// end). Null entries are skipped. The index of a set event, -1 when the time ran out.
int WaitForAny(std::initializer_list<const ManualResetEvent*> events, int timeoutMs);
