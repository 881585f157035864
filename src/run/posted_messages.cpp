#include "run/posted_messages.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <mutex>

#include "monitor/testclass.h"
#include "state/test_state.h"

namespace {

std::mutex g_mutex;
QPointer<QObject> g_receiverTarget;
MainFrameReceiver g_receiver = nullptr;

// Runs `fn` later on the GUI thread, from any thread; dropped when there is no
// application (the program is ending).
template <typename Fn>
void queueOnGui(Fn fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

}  // namespace

void PostToMainFrame(int message) {
    queueOnGui([message] {
        QPointer<QObject> target;
        MainFrameReceiver receiver = nullptr;
        {
            std::lock_guard lock(g_mutex);
            target = g_receiverTarget;
            receiver = g_receiver;
        }
        if (target && receiver) receiver(target.data(), message);
    });
}

void PostToTestView(int message) {
    queueOnGui([message] {
        // The form may have gone while the message travelled.
        if (message == WM_RECORD_SAMPLE && g_pTestView) g_pTestView->OnRecordTick();
    });
}

void SetMainFrameReceiver(QObject* target, MainFrameReceiver receiver) {
    std::lock_guard lock(g_mutex);
    g_receiverTarget = target;
    g_receiver = receiver;
}
