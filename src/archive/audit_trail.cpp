#include "archive/audit_trail.h"

#include <QDateTime>
#include <QSysInfo>
#include <QUuid>
#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "archive/archive_open.h"
#include "archive/audit_pending.h"
#include "archive/audited_file.h"
#include "platform/thread_name.h"

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

QString AuditHostName() { return QSysInfo::machineHostName(); }

QString AuditProgramVersion() { return QStringLiteral(KIVO_VERSION); }

namespace {

// An event naming an exported file not read yet.
bool FileUnread(const AuditEvent& e) { return !e.fileRead && !e.filePath.isEmpty(); }

}  // namespace

struct AuditTrail::Shared {
    QString path;
    int retryMs = 10000;
    std::mutex mutex;
    std::condition_variable work, done;
    // Taken off the front once written; only the trail's thread takes any off.
    std::deque<AuditEvent> queue;
    bool busy = false;     // an event is being written, or its file read
    bool refused = false;  // the last try failed; the next waits for `retryMs`
    bool stopping = false;
    // Set with `stopping`: the thread starts reading no exported file after it.
    std::chrono::steady_clock::time_point readUntil;
    bool finished = false;  // the thread has ended
    // Set as the thread ends: events it wrote into a file no longer at the archive's path (a
    // damaged one moved aside since), to be left for the archive made in its place.
    std::deque<AuditEvent> stranded;

    bool fileToRead() const {
        return std::any_of(queue.begin(), queue.end(), FileUnread);
    }
};

namespace {

constexpr const char* kInsert = R"(
INSERT INTO audit_event (uid, test_uid, at_ms, user_name, action, detail, file_kind, file_name,
  file_size, file_sha256, host_name, port_name, port_device, program_version, usb_serial)
VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)
ON CONFLICT (uid) DO NOTHING
)";

// Within the caller's transaction.
void Insert(Connection& db, const AuditEvent& e) {
    Statement s(db, kInsert);
    s.bindText(1, e.uid);
    if (e.testUid.isEmpty())
        s.bindNull(2);
    else
        s.bindText(2, e.testUid);
    s.bind(3, e.atMs);
    s.bindText(4, e.user).bindText(5, e.action).bindText(6, e.detail);
    s.bind(7, e.fileKind).bind(8, e.fileName);
    if (e.fileSize)
        s.bind(9, *e.fileSize);
    else
        s.bindNull(9);
    s.bind(10, e.fileSha256);
    s.bindText(11, e.hostName.isEmpty() ? AuditHostName() : e.hostName);
    s.bindText(12, e.portName).bindText(13, e.portDevice);
    s.bindText(14, e.programVersion.isEmpty() ? AuditProgramVersion() : e.programVersion);
    s.bind(15, e.usbSerial);
    s.run();
}

template <typename Events>
void WriteAll(Connection& db, const Events& events) {
    WriteTransaction transaction(db);
    for (const AuditEvent& e : events) Insert(db, e);
    transaction.commit();
}

// The trail thread's hold on the archive, and what it wrote there.
class ArchiveSide {
  public:
    explicit ArchiveSide(QString path) : m_path(std::move(path)) {}

    // Writes the event, opening the archive first when it is not open; false when the
    // archive refused (it is then let go).
    bool write(const AuditEvent& event) {
        try {
            if (!m_opened.db && !open()) {
                letGo();
                return false;
            }
            const std::array written{event};
            WriteAll(*m_opened.db, written);
            remember(written);
            return true;
        } catch (const SqlError&) {
            // The archive refused (full disk, say): the writer tells the operator about the
            // archive; the trail keeps the event and tries again.
            letGo();
            return false;
        } catch (const std::exception& e) {
            // Anything else (out of memory on a file left beside the archive, say) is a refusal
            // too: the event is kept, and the thread goes on.
            qWarning("archive: the audit trail could not write: %s", e.what());
            letGo();
            return false;
        }
    }
    void letGo() { m_opened = OpenedArchive(); }

    // What this trail wrote into the file last opened, when another file (or none) is now at
    // the archive's path: the archive made in place of it is to have them too.
    std::deque<AuditEvent> stranded() const {
        if (!m_file || m_written.empty() || IdentifyFile(m_path) == m_file) return {};
        return m_written;
    }

  private:
    // Throws SqlError when the archive refuses what it owes.
    bool open() {
        m_opened = OpenArchive(m_path);
        if (!m_opened.db) return false;
        // `archive.use` is held: the file at the path stays the one opened.
        const std::optional<FileId> file = IdentifyFile(m_path);
        // A new archive in place of the one the trail wrote to (a damaged one moved aside):
        // what the trail wrote goes into it too, so that none of it stays only in the old file.
        if (m_file && file && file != m_file && !m_written.empty())
            WriteAll(*m_opened.db, m_written);
        if (file) m_file = file;
        // Other trails' events, left beside the archive when they ended.
        TakeUpPendingAudit(m_path, m_log, [this](const std::vector<AuditEvent>& events) {
            WriteAll(*m_opened.db, events);
            remember(events);
        });
        return true;
    }

    template <typename Events>
    void remember(const Events& events) {
        m_written.insert(m_written.end(), std::begin(events), std::end(events));
        while (m_written.size() > kRewrittenAuditEvents) m_written.pop_front();
    }

    QString m_path;
    OpenedArchive m_opened;  // open only while events wait
    std::deque<AuditEvent> m_written;
    std::optional<FileId> m_file;  // the file last opened
    PendingLog m_log;
};

// Reads the exported files of the events handed, at once (before any wait for the archive), so
// that each event describes its file as it was when handed. Returns once the trail is stopping;
// as it ends (`ending`), once the time to read is over.
void ReadHandedFiles(AuditTrail::Shared& shared, std::unique_lock<std::mutex>& lock,
                     bool ending = false) {
    for (;;) {
        if (ending ? std::chrono::steady_clock::now() >= shared.readUntil : shared.stopping) return;
        const auto found = std::find_if(shared.queue.begin(), shared.queue.end(), FileUnread);
        if (found == shared.queue.end()) return;
        // Events are only added behind it meanwhile: its place stays the same.
        const size_t place = size_t(found - shared.queue.begin());
        AuditEvent event = *found;
        shared.busy = true;
        lock.unlock();
        ReadAuditedFile(event);
        lock.lock();
        shared.busy = false;
        shared.queue[place] = std::move(event);
        shared.done.notify_all();
    }
}

void Run(const std::shared_ptr<AuditTrail::Shared>& shared) {
    ArchiveSide archive(shared->path);
    // When an event the archive refused is tried again; kNoRetry while none was refused.
    using Clock = std::chrono::steady_clock;
    constexpr Clock::time_point kNoRetry = Clock::time_point::max();
    Clock::time_point retryAt = kNoRetry;
    std::unique_lock lock(shared->mutex);
    for (;;) {
        if (retryAt != kNoRetry)
            shared->work.wait_until(lock, retryAt,
                                    [&] { return shared->stopping || shared->fileToRead(); });
        else
            shared->work.wait(lock, [&] { return shared->stopping || !shared->queue.empty(); });
        if (shared->stopping) break;
        ReadHandedFiles(*shared, lock);
        if (shared->stopping) break;
        if (retryAt != kNoRetry && Clock::now() < retryAt) continue;
        retryAt = kNoRetry;
        const AuditEvent event = shared->queue.front();
        shared->busy = true;
        lock.unlock();
        const bool written = archive.write(event);
        lock.lock();
        if (written) shared->queue.pop_front();
        if (written && shared->queue.empty()) {
            // Let go of the file (before a flush returns): a writer may need it alone, and the
            // next open finds the live file.
            lock.unlock();
            archive.letGo();
            lock.lock();
        }
        shared->busy = false;
        shared->refused = !written;
        if (!written)
            retryAt = Clock::now() + std::chrono::milliseconds(shared->retryMs);
        shared->done.notify_all();
    }
    lock.unlock();
    archive.letGo();
    std::deque<AuditEvent> stranded = archive.stranded();
    lock.lock();
    // Published before the last files are read, so that close() has them even when those
    // reads outlast its wait.
    shared->stranded = std::move(stranded);
    // Handed as the trail ended: read now, as handed, within the time close() waits.
    ReadHandedFiles(*shared, lock, true);
    shared->finished = true;
    shared->done.notify_all();
}

}  // namespace

AuditTrail::AuditTrail(QString archivePath, int retryMs) : m_shared(std::make_shared<Shared>()) {
    m_shared->path = std::move(archivePath);
    m_shared->retryMs = retryMs;
    m_thread = std::thread([shared = m_shared] {
        NameThisThread("kivo-audit");
        Run(shared);
    });
}

AuditTrail::~AuditTrail() { close(); }

UnwrittenEvents AuditTrail::close() {
    if (m_closed) return {};
    m_closed = true;
    flush(5000);
    std::unique_lock lock(m_shared->mutex);
    // A write under way may still wait out a busy archive; a disk stalled longer is left.
    const auto bound = std::chrono::milliseconds(2 * kBusyTimeoutMs + 2000);
    m_shared->stopping = true;
    m_shared->readUntil = std::chrono::steady_clock::now() + bound - std::chrono::seconds(1);
    m_shared->work.notify_all();
    const bool finished = m_shared->done.wait_for(lock, bound, [&] { return m_shared->finished; });
    // The event being written, if any, is among these: written again, it is written once.
    // Files not read by then stay unread: the event names its file only.
    const std::deque<AuditEvent> left = m_shared->queue;
    std::deque<AuditEvent> leaving = m_shared->stranded;
    lock.unlock();
    if (finished)
        m_thread.join();
    else
        m_thread.detach();  // a thread stuck on the disk finishes by itself
    // What the archive did not take waits beside it for the next trail, after what this trail
    // wrote into a file moved aside since (each event is written once to a file).
    const int stranded = int(leaving.size());
    leaving.insert(leaving.end(), left.begin(), left.end());
    UnwrittenEvents events;
    const int kept = LeavePendingAudit(m_shared->path, leaving);
    events.kept = std::max(0, kept - stranded);
    events.lost = int(left.size()) - events.kept;
    if (kept < int(leaving.size()))
        qWarning("archive: %d audit events could be kept nowhere", int(leaving.size()) - kept);
    return events;
}

void AuditTrail::record(AuditEvent event) {
    if (event.atMs == 0) event.atMs = QDateTime::currentMSecsSinceEpoch();
    if (event.uid.isEmpty()) event.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    event.hostName = AuditHostName();
    event.programVersion = AuditProgramVersion();
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->queue.push_back(std::move(event));
    }
    m_shared->work.notify_all();
}

bool AuditTrail::flush(int timeoutMs) {
    std::unique_lock lock(m_shared->mutex);
    const bool done = m_shared->done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return (m_shared->queue.empty() || m_shared->refused) && !m_shared->busy &&
               !m_shared->fileToRead();
    });
    return done && m_shared->queue.empty();
}

}  // namespace archive
