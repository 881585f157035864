#pragma once

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>

// Drives the modal dialogs a piece of code opens: every few milliseconds it looks at the
// active modal dialog and, when it is of the class the next step expects, runs that step
// on it. A dialog nobody expected, or one left open that no step takes within a second, is
// rejected (and noted), so a test never hangs on it. The newest script is the one that acts.
class ModalScript {
  public:
    ModalScript() : m_previous(active()) {
        active() = this;
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_timer.start();
    }

    ~ModalScript() { active() = m_previous; }
    ModalScript(const ModalScript&) = delete;
    ModalScript& operator=(const ModalScript&) = delete;

    template <class T>
    ModalScript& then(std::function<void(T*)> action) {
        m_steps.push_back(
            {&T::staticMetaObject, [action](QWidget* w) { action(static_cast<T*>(w)); }});
        return *this;
    }

    // Class names of the modal dialogs that came up, in order; "!" before an unexpected one.
    QStringList seen() const { return m_seen; }
    bool finished() const { return m_steps.empty(); }

  private:
    struct Step {
        const QMetaObject* type;
        std::function<void(QWidget*)> action;
    };

    static ModalScript*& active() {
        static ModalScript* script = nullptr;
        return script;
    }

    void tick() {
        if (active() != this) return;
        QWidget* w = QApplication::activeModalWidget();
        if (!w) return;
        const bool fresh = w != m_current.data();
        m_current = w;
        if (!m_steps.empty() && w->metaObject()->inherits(m_steps.front().type)) {
            if (fresh) m_seen << w->metaObject()->className();
            m_stalled = 0;
            Step step = m_steps.front();
            m_steps.pop_front();
            step.action(w);
        } else if (fresh || ++m_stalled > 200) {
            m_seen << QStringLiteral("!") + w->metaObject()->className();
            m_stalled = 0;
            if (auto* dialog = qobject_cast<QDialog*>(w)) dialog->reject();
        }
    }

    ModalScript* m_previous;
    QTimer m_timer;
    std::deque<Step> m_steps;
    QPointer<QWidget> m_current;
    QStringList m_seen;
    int m_stalled = 0;
};
