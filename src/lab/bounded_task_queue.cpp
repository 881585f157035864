#include "lab/bounded_task_queue.h"

namespace lab {

BoundedTaskQueue::BoundedTaskQueue(size_t threads, size_t maxWaiting)
    : m_maxWaiting(maxWaiting == 0 ? 1 : maxWaiting) {
    m_threads.reserve(threads);
    for (size_t i = 0; i < threads; ++i) m_threads.emplace_back([this] { work(); });
}

BoundedTaskQueue::~BoundedTaskQueue() { shutdown(); }

void BoundedTaskQueue::enqueue(std::function<void()> task) {
    {
        std::unique_lock lock(m_mutex);
        ++m_blocked;
        m_room.wait(lock, [this] { return m_tasks.size() < m_maxWaiting || m_shutdown; });
        --m_blocked;
        // At the end the task still runs: the threads finish what is queued before they stop.
        m_tasks.push_back(std::move(task));
    }
    m_work.notify_one();
}

void BoundedTaskQueue::shutdown() {
    {
        std::lock_guard lock(m_mutex);
        if (m_shutdown && m_threads.empty()) return;
        m_shutdown = true;
    }
    m_work.notify_all();
    m_room.notify_all();
    for (std::thread& t : m_threads)
        if (t.joinable()) t.join();
    m_threads.clear();
}

size_t BoundedTaskQueue::waiting() {
    std::lock_guard lock(m_mutex);
    return m_tasks.size();
}

size_t BoundedTaskQueue::blockedEnqueuers() {
    std::lock_guard lock(m_mutex);
    return m_blocked;
}

void BoundedTaskQueue::work() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(m_mutex);
            m_work.wait(lock, [this] { return !m_tasks.empty() || m_shutdown; });
            if (m_tasks.empty()) return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        m_room.notify_one();
        task();
    }
}

}  // namespace lab
