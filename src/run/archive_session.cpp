#include "run/archive_session.h"

#include <QApplication>
#include <QMetaObject>
#include <QPointer>
#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

#include "archive/archive_messages.h"
#include "archive/archive_writer.h"
#include "archive/audit_trail.h"
#include "archive/process_mark.h"
#include "monitor/testclass.h"
#include "platform/message_box.h"
#include "run/unarchived_records.h"

namespace ArchiveSession {
namespace {

std::mutex g_mutex;
std::shared_ptr<archive::ArchiveWriter> g_writer;
std::shared_ptr<archive::AuditTrail> g_audit;
// The archive's file and this process's mark, read once as the session opens, so that a test
// started when no file descriptor is left still carries its mark whole.
struct Opened {
    QString path;
    QString processMark;
};
Opened g_opened;

}  // namespace

void open(const QString& path, std::function<void()> committed) {
    close();
    archive::ArchiveWriter::Options options;
    options.onRecordCommitted = [committed](const QString& uid, int number) {
        UnarchivedRecords::committed(uid, number);
        if (committed) committed();
    };
    auto writer = std::make_shared<archive::ArchiveWriter>(path, &reportFailure, options);
    auto audit = std::make_shared<archive::AuditTrail>(path);
    Opened opened{path, archive::ReadOwnProcessMark().text()};
    std::lock_guard lock(g_mutex);
    g_writer = std::move(writer);
    g_audit = std::move(audit);
    g_opened = std::move(opened);
}

void close() {
    std::shared_ptr<archive::ArchiveWriter> writer;
    std::shared_ptr<archive::AuditTrail> audit;
    Opened opened;
    {
        std::lock_guard lock(g_mutex);
        writer.swap(g_writer);
        audit.swap(g_audit);
        std::swap(opened, g_opened);
    }
    const archive::UnwrittenEvents events = audit ? audit->close() : archive::UnwrittenEvents{};
    audit.reset();
    if (!writer) return;
    const std::vector<archive::ArchiveWriter::Unwritten> unwritten = writer->close();
    writer.reset();
    if (QCoreApplication::instance() == nullptr) return;
    // Said before the program ends when anything is lost (the operator still has the exports
    // of the records), naming what was kept beside the archive as well; what was all kept
    // there is written by the next program and needs no word.
    bool lost = events.lost > 0;
    for (const archive::ArchiveWriter::Unwritten& test : unwritten)
        lost |= test.records > 0 || test.polls > 0 || test.endingLost;
    if (!lost) return;
    MessageBox::show(
        QApplication::activeWindow(), archive::UnwrittenAtEndText(opened.path, unwritten, events),
        MessageBox::kAppCaption, MessageBox::Buttons::Ok, MessageBox::Icon::Exclamation);
}

std::shared_ptr<archive::ArchiveWriter> writer() {
    std::lock_guard lock(g_mutex);
    return g_writer;
}

std::shared_ptr<archive::AuditTrail> audit() {
    std::lock_guard lock(g_mutex);
    return g_audit;
}

QString path() {
    std::lock_guard lock(g_mutex);
    return g_opened.path;
}

QString processMark() {
    std::lock_guard lock(g_mutex);
    return g_opened.processMark;
}

void reportFailure(const QString& message) {
    // Called on the writer's own thread: the box is shown later on the GUI thread, owned by
    // the test window when there is one, and the writer goes on at once.
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    QMetaObject::invokeMethod(
        app,
        [message] {
            QWidget* owner = g_pTestView ? static_cast<QWidget*>(g_pTestView.data())
                                         : QApplication::activeWindow();
            MessageBox::show(owner, message, MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                             MessageBox::Icon::Exclamation);
        },
        Qt::QueuedConnection);
}

}  // namespace ArchiveSession
