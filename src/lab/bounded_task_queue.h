#pragma once

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The server's threads with a bounded queue of accepted connections. When every thread is busy
// and `maxWaiting` connections wait, the accepting thread waits too: the next clients stay in
// the kernel's listen backlog (and are refused by it once that is full) instead of growing
// the queue without end. A task is never dropped, since each owns an open connection.
namespace lab {

class BoundedTaskQueue : public httplib::TaskQueue {
  public:
    BoundedTaskQueue(size_t threads, size_t maxWaiting);
    ~BoundedTaskQueue() override;

    void enqueue(std::function<void()> task) override;
    void shutdown() override;

    // Tasks waiting for a thread, and callers of enqueue() waiting for room: for the tests.
    size_t waiting();
    size_t blockedEnqueuers();

  private:
    std::mutex m_mutex;
    std::condition_variable m_work;  // a task, or the end
    std::condition_variable m_room;  // room in the queue, or the end
    std::deque<std::function<void()>> m_tasks;
    std::vector<std::thread> m_threads;
    size_t m_maxWaiting;
    size_t m_blocked = 0;
    bool m_shutdown = false;

    void work();
};

}  // namespace lab
