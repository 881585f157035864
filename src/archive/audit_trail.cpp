#include "archive/audit_trail.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QUuid>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "archive/archive_open.h"

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
    std::mutex mutex;
    std::condition_variable work, done;
    std::deque<AuditEvent> queue;
    bool busy = false;  // an event is being written
    bool stopping = false;
};

namespace {

constexpr const char* kInsert = R"(
INSERT INTO audit_event (uid, test_uid, at_ms, user_name, action, detail, file_kind, file_name,
  file_size, file_sha256, host_name, port_name, port_device, program_version)
VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)
)";

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
    s.bindText(1, QUuid::createUuid().toString(QUuid::WithoutBraces));
    if (e.testUid.isEmpty())
        s.bindNull(2);
    else
        s.bindText(2, e.testUid);
    s.bind(3, e.atMs ? e.atMs : QDateTime::currentMSecsSinceEpoch());
    s.bindText(4, e.user).bindText(5, e.action).bindText(6, e.detail);
    s.bind(7, e.fileKind).bind(8, fileName);
    if (size)
        s.bind(9, *size);
    else
        s.bindNull(9);
    s.bind(10, sha);
    s.bindText(11, QSysInfo::machineHostName()).bindText(12, e.portName);
    s.bindText(13, e.portDevice).bindText(14, QStringLiteral(KIVO_VERSION));
    s.run();
    transaction.commit();
}

void Run(const std::shared_ptr<AuditTrail::Shared>& shared) {
    std::unique_ptr<Connection> db;
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->work.wait(lock, [&] { return shared->stopping || !shared->queue.empty(); });
        if (shared->queue.empty()) return;
        AuditEvent event = std::move(shared->queue.front());
        shared->queue.pop_front();
        shared->busy = true;
        lock.unlock();
        try {
            if (!db) db = OpenArchive(shared->path).db;
            if (db) Write(*db, event);
        } catch (const SqlError&) {
            // The archive refused (full disk, say): the writer tells the operator about the
            // archive; the trail keeps trying with the next event on a new connection.
            db.reset();
        }
        lock.lock();
        shared->busy = false;
        shared->done.notify_all();
    }
}

}  // namespace

AuditTrail::AuditTrail(QString archivePath) : m_shared(std::make_shared<Shared>()) {
    m_shared->path = std::move(archivePath);
    m_thread = std::thread(Run, m_shared);
}

AuditTrail::~AuditTrail() {
    flush(5000);
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->stopping = true;
        m_shared->queue.clear();
    }
    m_shared->work.notify_all();
    m_thread.join();
}

void AuditTrail::record(AuditEvent event) {
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->queue.push_back(std::move(event));
    }
    m_shared->work.notify_all();
}

bool AuditTrail::flush(int timeoutMs) {
    std::unique_lock lock(m_shared->mutex);
    return m_shared->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return m_shared->queue.empty() && !m_shared->busy; });
}

}  // namespace archive
