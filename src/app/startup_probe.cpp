#include "app/startup_probe.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <chrono>
#include <cstdio>

namespace {

class FirstPaintWatch : public QObject {
  public:
    FirstPaintWatch(QWidget* window, long long startNs) : QObject(window), m_startNs(startNs) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!m_seen && event->type() == QEvent::Paint) {
            m_seen = true;
            std::printf("shown %.1f\n", static_cast<double>(SteadyNowNs() - m_startNs) / 1e6);
            std::fflush(stdout);
            // After the paint has finished.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [] { QCoreApplication::exit(0); },
                Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    long long m_startNs;
    bool m_seen = false;
};

}  // namespace

long long SteadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void ExitWhenFirstShown(QWidget* window, long long startNs) {
    if (!window) return;
    window->installEventFilter(new FirstPaintWatch(window, startNs));
}
