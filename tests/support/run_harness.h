#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "link/link_threads.h"
#include "link/link_view.h"
#include "run/posted_messages.h"
#include "run/run_link.h"

// The test forms open no port: COM1 names a device that is not there (opening it fails
// with a message, which the tests' scripted boxes answer).
inline void UseNoPort() { qputenv("KIVO_COM1", "/nonexistent/kivo-test-port"); }

// One round of GUI events, with the deletions that an event loop would carry out (the
// tests run outside any event loop, where deleteLater() would otherwise wait).
inline void PumpOnce() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Processes GUI events until `done` holds or `timeoutMs` passes; true when it holds. The
// limit is only for what never comes: a loaded machine may take seconds for what takes
// milliseconds when it is idle.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 30000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        PumpOnce();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline void PumpFor(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) PumpOnce();
}

// Runs `fn` on a worker thread while the GUI thread keeps processing events, as a link
// thread calls into the form.
inline void RunOnWorker(const std::function<void()>& fn) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        fn();
        done = true;
    });
    PumpUntil([&] { return done.load(); }, 30000);
    worker.join();
}

// Stands in for the instrument link of the run control: a port that is open or not, a link
// that comes back or not, the commands written (with the thread that wrote them), and a
// command cycle that starts or fails to start. A started cycle runs `cycleBody` on a link thread
// when one is given.
class FakeRunLink {
  public:
    FakeRunLink() {
        RunLink::setHooksForTests(
            RunLink::Hooks{[this] { return portOpen.load(); },
                           [this](const QString& text, LinkView*) {
                               std::lock_guard lock(m_mutex);
                               m_commands << text;
                               m_threads.push_back(std::this_thread::get_id());
                           },
                           [this](std::shared_ptr<LinkView> view) {
                               ++cycleStarts;
                               if (!cycleCanStart) return false;
                               std::function<void(std::shared_ptr<LinkView>)> body;
                               {
                                   std::lock_guard lock(m_mutex);
                                   body = cycleBody;
                               }
                               if (body) return LinkThreads::start([body, view] { body(view); });
                               return true;
                           },
                           [this](std::shared_ptr<LinkView>) {
                               ++resumes;
                               return resumeSucceeds.load();
                           }});
    }
    ~FakeRunLink() { RunLink::setHooksForTests({}); }

    QStringList commands() const {
        std::lock_guard lock(m_mutex);
        return m_commands;
    }
    std::vector<std::thread::id> commandThreads() const {
        std::lock_guard lock(m_mutex);
        return m_threads;
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_commands.clear();
        m_threads.clear();
    }
    void setCycleBody(std::function<void(std::shared_ptr<LinkView>)> body) {
        std::lock_guard lock(m_mutex);
        cycleBody = std::move(body);
    }

    std::atomic<bool> portOpen{true};
    std::atomic<bool> cycleCanStart{true};
    std::atomic<int> cycleStarts{0};
    std::atomic<bool> resumeSucceeds{true};  // ResumeLink: the device is back (or never left)
    std::atomic<int> resumes{0};

  private:
    mutable std::mutex m_mutex;
    QStringList m_commands;
    std::vector<std::thread::id> m_threads;
    std::function<void(std::shared_ptr<LinkView>)> cycleBody;
};

// Takes the place of the main frame and records the messages posted to it.
class MainFrameRecorder : public QObject {
  public:
    MainFrameRecorder() {
        SetMainFrameReceiver(this, [](QObject* target, int message) {
            static_cast<MainFrameRecorder*>(target)->messages.push_back(message);
        });
    }
    ~MainFrameRecorder() override { SetMainFrameReceiver(nullptr, nullptr); }
    std::vector<int> messages;  // GUI thread
};
