#include "platform/busy_work.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QVBoxLayout>
#include <atomic>
#include <thread>

namespace {

// The box: a caption, the text and a bar that only says "busy". It stays until the work is
// done; Escape and the window's own close do nothing.
class BusyBox : public QDialog {
  public:
    BusyBox(QWidget* owner, const QString& text) : QDialog(owner) {
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        setWindowTitle(QStringLiteral("Kivo"));
        setWindowModality(Qt::ApplicationModal);
        auto* layout = new QVBoxLayout(this);
        auto* label = new QLabel(text, this);
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 0);
        bar->setTextVisible(false);
        bar->setAccessibleName(text);
        label->setBuddy(bar);
        layout->addWidget(label);
        layout->addWidget(bar);
        setMinimumWidth(280);
    }
    void reject() override {}

  protected:
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

}  // namespace

void RunWithBusyBox(QWidget* owner, const QString& text, std::function<void()> work) {
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });

    QPointer<BusyBox> box = new BusyBox(owner, text);
    box->show();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    // The loop ends when the work is done, or earlier when the program quits; the work is
    // waited for either way, so nothing it writes is left half done.
    if (!done) loop.exec();
    worker.join();
    QApplication::restoreOverrideCursor();
    delete box.data();
}
