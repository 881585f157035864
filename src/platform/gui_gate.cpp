#include "platform/gui_gate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

// Qt passes the wake-up event between threads under a lock of its own, built without the
// thread checker; these annotations tell the checker about that hand-over (and are empty in
// every other build).
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#define KIVO_HANDED_OVER(address) __tsan_release(address)
#define KIVO_TAKEN_OVER(address) __tsan_acquire(address)
#else
#define KIVO_HANDED_OVER(address) static_cast<void>(address)
#define KIVO_TAKEN_OVER(address) static_cast<void>(address)
#endif

struct GuiGate::Task {
    enum class State { Pending, Running, Done, Dropped };
    std::function<void()> fn;
    State state = State::Pending;
    bool waited = false;  // a caller waits for it (run); a post has nobody waiting
};

// Receives the gate's wake-up on the GUI thread: a bare event that means "look at the
// queue". (Qt's own events, such as the one that moves it to the GUI thread, pass by.)
class GuiGate::DrainTarget : public QObject {
  public:
    static constexpr QEvent::Type kWake = QEvent::User;

    bool event(QEvent* event) override {
        KIVO_TAKEN_OVER(this);
        if (event->type() != kWake) return QObject::event(event);
        instance().drain();
        return true;
    }
};

GuiGate& GuiGate::instance() {
    static GuiGate gate;
    return gate;
}

bool GuiGate::onGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

bool GuiGate::enqueue(const std::shared_ptr<Task>& task) {
    bool schedule = false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_open) return false;
        m_pending.push_back(task);
        // One drain carries out everything queued before it runs: a burst of posts wakes the
        // GUI thread once.
        schedule = !m_drainScheduled;
        m_drainScheduled = true;
    }
    if (schedule) scheduleDrain();
    return true;
}

void GuiGate::scheduleDrain() {
    // The work travels through m_pending (guarded by our own mutex); the posted event only
    // tells the GUI thread to look there.
    static DrainTarget* const target = [] {
        auto* t = new DrainTarget;
        t->moveToThread(QCoreApplication::instance()->thread());
        return t;
    }();
    auto* wake = new QEvent(DrainTarget::kWake);
    KIVO_HANDED_OVER(target);
    QCoreApplication::postEvent(target, wake);
}

bool GuiGate::run(std::function<void()> fn) {
    if (onGuiThread()) {
        if (!isOpen()) return false;
        drain();
        fn();
        return true;
    }
    auto task = std::make_shared<Task>();
    task->fn = std::move(fn);
    task->waited = true;
    if (!enqueue(task)) return false;
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [&] {
        return task->state == Task::State::Done || task->state == Task::State::Dropped;
    });
    return task->state == Task::State::Done;
}

bool GuiGate::post(std::function<void()> fn) {
    if (onGuiThread()) return run(std::move(fn));
    return queue(std::move(fn));
}

bool GuiGate::queue(std::function<void()> fn) {
    auto task = std::make_shared<Task>();
    task->fn = std::move(fn);
    return enqueue(task);
}

void GuiGate::drain() {
    {
        std::lock_guard lock(m_mutex);
        m_drainScheduled = false;
    }
    for (;;) {
        std::shared_ptr<Task> task;
        {
            std::lock_guard lock(m_mutex);
            if (m_pending.empty()) return;
            task = m_pending.front();
            m_pending.pop_front();
            task->state = Task::State::Running;
        }
        std::function<void()> fn;
        fn.swap(task->fn);  // the task keeps nothing of it
        ++m_running;
        fn();
        --m_running;
        // Destroyed outside the lock: what it holds (a form's link, say) may take its own
        // locks as it goes.
        fn = nullptr;
        {
            std::lock_guard lock(m_mutex);
            task->state = Task::State::Done;
        }
        if (task->waited) m_done.notify_all();
    }
}

void GuiGate::close() {
    std::deque<std::shared_ptr<Task>> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_open = false;
        for (auto& task : m_pending) task->state = Task::State::Dropped;
        dropped.swap(m_pending);
    }
    m_done.notify_all();
    // The dropped work is destroyed outside the lock: what it holds (a form's link, say)
    // may take its own locks as it goes.
    dropped.clear();
}

void GuiGate::open() {
    std::lock_guard lock(m_mutex);
    m_open = true;
}

bool GuiGate::isOpen() const {
    std::lock_guard lock(m_mutex);
    return m_open;
}
