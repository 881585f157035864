#include "archive/audit_trail.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSysInfo>
#include <QUuid>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "archive/archive_open.h"
#include "archive/lock_folder.h"

namespace archive {

QString AuditActionText(const QString& action) {
    static const std::pair<const char*, const char*> kTexts[] = {
        {"started", "开始实验"},
        {"resumed", "继续实验"},
        {"paused_operator", "暂停（操作员）"},
        {"paused_temperature", "暂停（温度超限）"},
        {"comm_failure", "通信故障"},
        {"finished", "实验完成"},
        {"instrument_stopped", "仪器停止"},
        {"closed", "关闭实验"},
        {"recovered", "恢复实验"},
        {"recovery_declined", "放弃恢复"},
        {"exported", "导出文件"},
        {"csv_exported", "导出CSV"},
        {"printed", "打印"},
        {"deleted", "删除实验"},
    };
    for (const auto& [name, text] : kTexts)
        if (action == QLatin1String(name)) return QString::fromUtf8(text);
    return action;
}

struct AuditTrail::Shared {
    QString path;
    int retryMs = 10000;
    std::mutex mutex;
    std::condition_variable work, done;
    std::deque<AuditEvent> queue;  // the front one is taken off once written
    bool busy = false;             // an event is being written
    bool refused = false;          // the last try failed; the next waits for `retryMs`
    bool stopping = false;
    bool finished = false;  // the thread has ended
};

namespace {

constexpr const char* kInsert = R"(
INSERT INTO audit_event (uid, test_uid, at_ms, user_name, action, detail, file_kind, file_name,
  file_size, file_sha256, host_name, port_name, port_device, program_version, usb_serial)
VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)
ON CONFLICT (uid) DO NOTHING
)";

const QString kPendingPrefix = QStringLiteral("audit-");
const QString kPendingSuffix = QStringLiteral(".pending");

void Write(Connection& db, const AuditEvent& e) {
    QString fileName, sha;
    std::optional<qint64> size;
    if (!e.filePath.isEmpty()) {
        fileName = QFileInfo(e.filePath).fileName();
        QFile file(e.filePath);
        if (file.open(QIODevice::ReadOnly)) {
            QCryptographicHash hash(QCryptographicHash::Sha256);
            hash.addData(&file);
            sha = QString::fromLatin1(hash.result().toHex());
            size = file.size();
        }
    }
    WriteTransaction transaction(db);
    Statement s(db, kInsert);
    s.bindText(1, e.uid);
    if (e.testUid.isEmpty())
        s.bindNull(2);
    else
        s.bindText(2, e.testUid);
    s.bind(3, e.atMs);
    s.bindText(4, e.user).bindText(5, e.action).bindText(6, e.detail);
    s.bind(7, e.fileKind).bind(8, fileName);
    if (size)
        s.bind(9, *size);
    else
        s.bindNull(9);
    s.bind(10, sha);
    s.bindText(11, QSysInfo::machineHostName()).bindText(12, e.portName);
    s.bindText(13, e.portDevice).bindText(14, QStringLiteral(KIVO_VERSION));
    s.bind(15, e.usbSerial);
    s.run();
    transaction.commit();
}

QJsonObject ToJson(const AuditEvent& e) {
    return {{"uid", e.uid},
            {"action", e.action},
            {"testUid", e.testUid},
            {"user", e.user},
            {"detail", e.detail},
            {"portName", e.portName},
            {"portDevice", e.portDevice},
            {"usbSerial", e.usbSerial},
            {"fileKind", e.fileKind},
            {"filePath", e.filePath},
            {"atMs", QString::number(e.atMs)}};
}

AuditEvent FromJson(const QJsonObject& o) {
    AuditEvent e;
    e.uid = o.value("uid").toString();
    e.action = o.value("action").toString();
    e.testUid = o.value("testUid").toString();
    e.user = o.value("user").toString();
    e.detail = o.value("detail").toString();
    e.portName = o.value("portName").toString();
    e.portDevice = o.value("portDevice").toString();
    e.usbSerial = o.value("usbSerial").toString();
    e.fileKind = o.value("fileKind").toString();
    e.filePath = o.value("filePath").toString();
    e.atMs = o.value("atMs").toString().toLongLong();
    return e;
}

// The events left when the trail ended, in a file of their own beside the archive.
bool LeavePending(const QString& archivePath, const std::deque<AuditEvent>& events) {
    if (events.empty()) return true;
    if (!MakeLockFolder(archivePath)) return false;
    QJsonArray list;
    for (const AuditEvent& e : events) list.append(ToJson(e));
    const QString name = LockFolder(archivePath) + QLatin1Char('/') + kPendingPrefix +
                         QUuid::createUuid().toString(QUuid::WithoutBraces) + kPendingSuffix;
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(QJsonDocument(list).toJson(QJsonDocument::Compact));
    return file.commit();
}

// Writes the events other trails left; a file goes once all of it is in the archive.
void TakeUpPending(const QString& archivePath, Connection& db) {
    const QDir folder(LockFolder(archivePath));
    const QStringList names =
        folder.entryList({kPendingPrefix + QLatin1Char('*') + kPendingSuffix}, QDir::Files);
    for (const QString& name : names) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) continue;
        const QJsonArray list = QJsonDocument::fromJson(file.readAll()).array();
        file.close();
        for (const QJsonValue& value : list) {
            const AuditEvent event = FromJson(value.toObject());
            if (!event.uid.isEmpty() && !event.action.isEmpty()) Write(db, event);
        }
        QFile::remove(folder.filePath(name));
    }
}

void Run(const std::shared_ptr<AuditTrail::Shared>& shared) {
    OpenedArchive opened;  // open only while events wait
    bool tookUp = false;
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->work.wait(lock, [&] { return shared->stopping || !shared->queue.empty(); });
        if (shared->queue.empty() || shared->stopping) break;
        const AuditEvent event = shared->queue.front();
        shared->busy = true;
        lock.unlock();
        bool written = false;
        try {
            if (!opened.db) opened = OpenArchive(shared->path);
            if (opened.db) {
                if (!tookUp) TakeUpPending(shared->path, *opened.db);
                tookUp = true;
                Write(*opened.db, event);
                written = true;
            }
        } catch (const SqlError&) {
            // The archive refused (full disk, say): the writer tells the operator about the
            // archive; the trail keeps the event and tries again.
        }
        lock.lock();
        shared->busy = false;
        shared->refused = !written;
        if (written) shared->queue.pop_front();
        if (!written || shared->queue.empty()) {
            // Let go of the file: a writer may need it alone, and the next open finds the
            // live file.
            lock.unlock();
            opened = OpenedArchive();
            lock.lock();
        }
        shared->done.notify_all();
        if (!written)
            shared->work.wait_for(lock, std::chrono::milliseconds(shared->retryMs),
                                  [&] { return shared->stopping; });
    }
    lock.unlock();
    opened = OpenedArchive();
    lock.lock();
    shared->finished = true;
    shared->done.notify_all();
}

}  // namespace

AuditTrail::AuditTrail(QString archivePath, int retryMs) : m_shared(std::make_shared<Shared>()) {
    m_shared->path = std::move(archivePath);
    m_shared->retryMs = retryMs;
    m_thread = std::thread(Run, m_shared);
}

AuditTrail::~AuditTrail() { close(); }

UnwrittenEvents AuditTrail::close() {
    if (m_closed) return {};
    m_closed = true;
    flush(5000);
    std::unique_lock lock(m_shared->mutex);
    m_shared->stopping = true;
    m_shared->work.notify_all();
    // A write under way may still wait out a busy archive; a disk stalled longer is left.
    const auto bound = std::chrono::milliseconds(2 * kBusyTimeoutMs + 2000);
    const bool finished = m_shared->done.wait_for(lock, bound, [&] { return m_shared->finished; });
    // The event being written, if any, is among these: written again, it is written once.
    const std::deque<AuditEvent> left = m_shared->queue;
    lock.unlock();
    if (finished)
        m_thread.join();
    else
        m_thread.detach();
    // What the archive did not take waits beside it for the next trail.
    UnwrittenEvents events;
    if (LeavePending(m_shared->path, left)) {
        events.kept = int(left.size());
    } else {
        events.lost = int(left.size());
        qWarning("archive: %d audit events could be kept nowhere", events.lost);
    }
    return events;
}

void AuditTrail::record(AuditEvent event) {
    if (event.atMs == 0) event.atMs = QDateTime::currentMSecsSinceEpoch();
    if (event.uid.isEmpty()) event.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->queue.push_back(std::move(event));
    }
    m_shared->work.notify_all();
}

bool AuditTrail::flush(int timeoutMs) {
    std::unique_lock lock(m_shared->mutex);
    const bool done = m_shared->done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return (m_shared->queue.empty() || m_shared->refused) && !m_shared->busy;
    });
    return done && m_shared->queue.empty();
}

}  // namespace archive
