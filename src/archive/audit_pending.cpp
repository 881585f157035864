#include "archive/audit_pending.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QUuid>
#include <cerrno>
#include <optional>

#include "archive/lock_folder.h"

namespace archive {
namespace {

const QString kPrefix = QStringLiteral("audit-");
const QString kPending = QStringLiteral(".pending");
const QString kTaking = QStringLiteral(".taking-");
const QString kUnreadable = QStringLiteral(".unreadable");
// A trail leaves its events in files of at most this size (an event is far smaller), so that
// however many it leaves, each file is well under the largest a trail reads.
constexpr qint64 kMostBytesLeftInOneFile = 4 * 1024 * 1024;
// A larger file is no trail's.
constexpr qint64 kMaxPendingBytes = 16 * 1024 * 1024;

QJsonObject ToJson(const AuditEvent& e) {
    QJsonObject o{{"uid", e.uid},
                  {"action", e.action},
                  {"testUid", e.testUid},
                  {"user", e.user},
                  {"detail", e.detail},
                  {"portName", e.portName},
                  {"portDevice", e.portDevice},
                  {"usbSerial", e.usbSerial},
                  {"fileKind", e.fileKind},
                  {"filePath", e.filePath},
                  {"atMs", QString::number(e.atMs)},
                  {"hostName", e.hostName},
                  {"programVersion", e.programVersion}};
    if (e.fileRead) {
        o.insert("fileName", e.fileName);
        o.insert("fileSha256", e.fileSha256);
        if (e.fileSize) o.insert("fileSize", QString::number(*e.fileSize));
    }
    return o;
}

std::optional<AuditEvent> FromJson(const QJsonValue& value) {
    if (!value.isObject()) return std::nullopt;
    const QJsonObject o = value.toObject();
    AuditEvent e;
    e.uid = o.value("uid").toString();
    e.action = o.value("action").toString();
    bool timed = false;
    e.atMs = o.value("atMs").toString().toLongLong(&timed);
    if (e.uid.isEmpty() || e.action.isEmpty() || !timed) return std::nullopt;
    e.testUid = o.value("testUid").toString();
    e.user = o.value("user").toString();
    e.detail = o.value("detail").toString();
    e.portName = o.value("portName").toString();
    e.portDevice = o.value("portDevice").toString();
    e.usbSerial = o.value("usbSerial").toString();
    e.fileKind = o.value("fileKind").toString();
    e.filePath = o.value("filePath").toString();
    // Files left by a program that stamped neither: the nearest this trail knows.
    e.hostName = o.contains("hostName") ? o.value("hostName").toString() : AuditHostName();
    e.programVersion =
        o.contains("programVersion") ? o.value("programVersion").toString() : AuditProgramVersion();
    e.fileRead = true;
    if (o.contains("fileName")) {
        e.fileName = o.value("fileName").toString();
        e.fileSha256 = o.value("fileSha256").toString();
        if (o.contains("fileSize")) e.fileSize = o.value("fileSize").toString().toLongLong();
    } else if (!e.filePath.isEmpty()) {
        // Left by a program that read the file only as it wrote the event. The path is only
        // what the file says: it is never opened here (it may name anything), only named.
        e.fileName = QFileInfo(e.filePath).fileName();
    }
    return e;
}

bool Rename(const QString& from, const QString& to) {
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// A claimed file: locked, under the claimer's own name; the lock goes with the object.
class Claim {
  public:
    ~Claim() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;

    // NotOurs: left as it is (another's, or gone). Unusable: held by this trail (or a link, no
    // file of anyone's), but no file of events a trail could have left: to be kept aside.
    enum class Outcome { Claimed, NotOurs, Unusable };
    // `base`: the file's name without its ending ("…/audit-<uuid>").
    Claim(const QString& name, const QString& base, const QString& claimer, PendingLog& log) {
        const QByteArray encoded = QFile::encodeName(name);
        // Never a link's target, never a wait on a pipe. Read-write where this account may, as
        // some network file systems lock only files open for writing.
        constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
        m_fd = ::open(encoded.constData(), O_RDWR | kFlags);
        if (m_fd < 0 && errno != ELOOP && errno != ENOENT)
            m_fd = ::open(encoded.constData(), O_RDONLY | kFlags);
        if (m_fd < 0) {
            if (errno == ELOOP) {
                outcome = Outcome::Unusable;
            } else if (errno == EACCES || errno == EPERM) {
                // Another account's (its claimer may be alive): not this trail's to judge.
                log.once(name,
                         "archive: audit events left beside the archive may not be read "
                         "by this account; left as they are: %s");
            }
            return;
        }
        // Locked first, renamed second: a file renamed already by the one who locked it before
        // us is no longer at `name`, and a live claimer's file cannot be locked. Where the file
        // system cannot lock at all, the rename alone claims it (a uid is written once anyway).
        if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) {
                release();
                return;
            }
            log.once(LockFolderOf(name),
                     "archive: audit files beside the archive cannot be "
                     "locked here; claimed by their renaming alone: %s");
        }
        struct stat status {};
        if (::fstat(m_fd, &status) != 0 || !S_ISREG(status.st_mode) ||
            status.st_size > kMaxPendingBytes) {
            outcome = Outcome::Unusable;
            return;
        }
        m_path = base + kTaking + claimer;
        if (!Rename(name, m_path)) {
            release();
            return;
        }
        outcome = Outcome::Claimed;
    }

    // Empty when it cannot be read whole, or is larger than any file a trail leaves.
    std::optional<QByteArray> read() const {
        QFile file;
        if (!file.open(m_fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) return {};
        QByteArray bytes = file.read(kMaxPendingBytes + 1);
        if (file.error() != QFileDevice::NoError || bytes.size() > kMaxPendingBytes) return {};
        return bytes;
    }
    // Removed while still locked: whoever locks it after us finds no name to rename.
    void remove() const { ::unlink(QFile::encodeName(m_path).constData()); }
    const QString& path() const { return m_path; }

    Outcome outcome = Outcome::NotOurs;

  private:
    void release() {
        ::close(m_fd);
        m_fd = -1;
    }
    static QString LockFolderOf(const QString& name) { return QFileInfo(name).path(); }

    int m_fd = -1;
    QString m_path;
};

void KeepUnreadable(const QString& name, const QString& base, const char* why) {
    const QString kept = base + kUnreadable;
    if (Rename(name, kept))
        qWarning("archive: audit events left beside the archive could not be %s; kept as %s", why,
                 qPrintable(kept));
    else
        qWarning("archive: audit events left beside the archive could not be %s: %s", why,
                 qPrintable(name));
}

}  // namespace

namespace {

// The files of one trail's events are named in their order ("audit-<uuid>-0001.pending", ...),
// which is the order they are taken up in.
bool LeaveFile(const QString& archivePath, const QString& uuid, int part, const QByteArray& list) {
    const QString name = LockFolder(archivePath) + QLatin1Char('/') + kPrefix + uuid +
                         QStringLiteral("-%1").arg(part, 4, 10, QLatin1Char('0')) + kPending;
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) return false;
    // Readable by every operator account of the group, whatever this one's umask: another
    // account's trail takes the events up.
    ::fchmod(file.handle(), 0664);
    file.write(list);
    return file.commit();
}

}  // namespace

int LeavePendingAudit(const QString& archivePath, const std::deque<AuditEvent>& events) {
    if (events.empty() || !MakeLockFolder(archivePath)) return 0;
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    int part = 1;
    int left = 0;
    int inList = 0;
    QByteArray list;
    for (const AuditEvent& e : events) {
        const QByteArray event = QJsonDocument(ToJson(e)).toJson(QJsonDocument::Compact);
        if (inList > 0 && list.size() + event.size() + 2 > kMostBytesLeftInOneFile) {
            list += ']';
            if (!LeaveFile(archivePath, uuid, part++, list)) return left;
            left += inList;
            inList = 0;
        }
        if (inList == 0)
            list = "[";
        else
            list += ',';
        list += event;
        ++inList;
    }
    list += ']';
    return LeaveFile(archivePath, uuid, part, list) ? left + inList : left;
}

void PendingLog::once(const QString& about, const char* format) {
    if (m_told.contains(about)) return;
    m_told.insert(about);
    qWarning(format, qPrintable(about));
}

void TakeUpPendingAudit(const QString& archivePath, PendingLog& log,
                        const std::function<void(const std::vector<AuditEvent>&)>& write) {
    const QDir folder(LockFolder(archivePath));
    const QStringList names =
        folder.entryList({kPrefix + QLatin1Char('*') + kPending,
                          kPrefix + QLatin1Char('*') + kTaking + QLatin1Char('*')},
                         QDir::Files, QDir::Name);
    const QString claimer = QUuid::createUuid().toString(QUuid::WithoutBraces);
    for (const QString& entry : names) {
        const QString name = folder.filePath(entry);
        const qsizetype end =
            entry.endsWith(kPending) ? entry.size() - kPending.size() : entry.lastIndexOf(kTaking);
        const QString base = folder.filePath(entry.left(end));
        const Claim claim(name, base, claimer, log);
        if (claim.outcome == Claim::Outcome::Unusable) KeepUnreadable(name, base, "read");
        if (claim.outcome != Claim::Outcome::Claimed) continue;
        const std::optional<QByteArray> bytes = claim.read();
        if (!bytes) {
            KeepUnreadable(claim.path(), base, "read");
            continue;
        }
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(*bytes, &error);
        std::vector<AuditEvent> events;
        bool whole = error.error == QJsonParseError::NoError && document.isArray();
        for (const QJsonValue& value : document.array()) {
            if (std::optional<AuditEvent> event = FromJson(value))
                events.push_back(std::move(*event));
            else
                whole = false;
        }
        // What could be understood is written; the file itself is kept when any of it could
        // not, so that no event goes unseen.
        if (!events.empty()) write(events);
        if (whole)
            claim.remove();
        else
            KeepUnreadable(claim.path(), base, "understood");
    }
}

}  // namespace archive
