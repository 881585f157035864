#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

// Hands a piece of work from one of the program's threads to the GUI thread, either waiting
// until it has run there (run) or not (post). Both kinds travel in one queue and run in the
// order they were handed in, so a blocking call always finds every earlier post carried out.
// Widgets are touched only on the GUI thread; the GUI thread never waits for a worker.
//
// The gate can be closed (when the test window goes away or the program ends): work that
// has not started yet is dropped and its callers released at once, so no thread stays
// blocked on a window that no longer exists.
class GuiGate {
  public:
    static GuiGate& instance();

    // Runs `fn` on the GUI thread while the caller waits; runs it at once when the caller is
    // the GUI thread (after the work still queued). Returns false, without running `fn`,
    // when the gate is closed.
    bool run(std::function<void()> fn);
    // Queues `fn` for the GUI thread and returns at once; on the GUI thread it runs at once,
    // after the work still queued. False when the gate is closed (`fn` is dropped).
    bool post(std::function<void()> fn);
    // Queues `fn` for the GUI thread and returns at once, from any thread: on the GUI thread
    // too it runs later, from the event loop, after everything queued before it. A caller
    // may therefore queue while it holds a lock that `fn` takes. False when the gate is
    // closed (`fn` is dropped).
    bool queue(std::function<void()> fn);

    void close();
    void open();
    bool isOpen() const;

    static bool onGuiThread();

    // True while the GUI thread is carrying out a worker's call. A window destroyed from
    // inside such a call (a message box's own event loop, say) must not wait for that
    // worker: it is waiting for the very call that runs below on the stack.
    bool runningWorkerCall() const { return m_running.load() > 0; }

  private:
    struct Task;
    class DrainTarget;
    // Queues `task`; false when the gate is closed.
    bool enqueue(const std::shared_ptr<Task>& task);
    // Asks the GUI thread to carry out the queue.
    void scheduleDrain();
    void drain();

    mutable std::mutex m_mutex;
    std::condition_variable m_done;
    std::deque<std::shared_ptr<Task>> m_pending;
    bool m_open = true;
    bool m_drainScheduled = false;  // a drain is on its way to the GUI thread
    std::atomic<int> m_running{0};
};
