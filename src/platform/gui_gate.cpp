#include "platform/gui_gate.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

struct GuiGate::Task {
    enum class State { Pending, Running, Done, Dropped };
    std::function<void()> fn;
    State state = State::Pending;
};

GuiGate& GuiGate::instance() {
    static GuiGate gate;
    return gate;
}

bool GuiGate::onGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

bool GuiGate::run(std::function<void()> fn) {
    if (onGuiThread()) {
        if (!isOpen()) return false;
        fn();
        return true;
    }
    auto task = std::make_shared<Task>();
    task->fn = std::move(fn);
    {
        std::lock_guard lock(m_mutex);
        if (!m_open) return false;
        m_pending.push_back(task);
    }
    // The task itself travels through m_pending (guarded by our own mutex); the posted call
    // only tells the GUI thread to look there.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [this] { drain(); }, Qt::QueuedConnection);
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [&] {
        return task->state == Task::State::Done || task->state == Task::State::Dropped;
    });
    return task->state == Task::State::Done;
}

void GuiGate::drain() {
    for (;;) {
        std::shared_ptr<Task> task;
        {
            std::lock_guard lock(m_mutex);
            if (m_pending.empty()) return;
            task = m_pending.front();
            m_pending.pop_front();
            task->state = Task::State::Running;
        }
        ++m_running;
        task->fn();
        --m_running;
        {
            std::lock_guard lock(m_mutex);
            task->state = Task::State::Done;
            task->fn = nullptr;
        }
        m_done.notify_all();
    }
}

void GuiGate::close() {
    {
        std::lock_guard lock(m_mutex);
        m_open = false;
        for (auto& task : m_pending) {
            task->state = Task::State::Dropped;
            task->fn = nullptr;
        }
        m_pending.clear();
    }
    m_done.notify_all();
}

void GuiGate::open() {
    std::lock_guard lock(m_mutex);
    m_open = true;
}

bool GuiGate::isOpen() const {
    std::lock_guard lock(m_mutex);
    return m_open;
}
