#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <thread>

#include "archive/archive_messages.h"

// The archive's audit trail: who did what, when, to which test (started, paused, exported,
// deleted, ...). Events are handed over and written on a thread of the trail's own, so the
// caller never waits for the disk; each event gets a uid that names it on the lab server too,
// and the time it was handed.
//
// The trail uses the archive as the writer does: it opens the live file whenever events wait,
// holding `archive.use` while it has it open, and lets go once they are written (so that a
// writer can move a damaged file aside, and the trail then follows the new one). An event
// the archive refuses is kept, in order, and tried again every `retryMs`; the events still
// waiting when the trail ends are left beside the archive ("kivo.sqlite.locks/audit-*.pending")
// and written by whichever trail next opens it (every trail takes them up each time it opens
// the archive). When the trail opens a file other than the one it last wrote to (a damaged
// one was moved aside and a new archive made), the events it wrote before (the newest
// `kRewrittenAuditEvents`) are written into the new one as well; when the trail ends with
// another file (or none) at the path, they are left beside the archive for it. An event is
// written once to a file however often it is tried, always with the time it was handed.
namespace archive {

struct AuditEvent {
    QString action;   // "started", "paused_operator", "exported", ... (see AuditActionText)
    QString testUid;  // empty for an event that concerns no single test
    QString user;     // the logged-in user
    QString detail;   // a short Chinese description
    QString portName, portDevice;
    // An exported file: its kind ("文本数据", "报表", "CSV"), and its path; the trail reads its
    // name, size and SHA-256 on its own thread as soon as it is handed, before it waits for
    // the archive (the fields below).
    QString fileKind, filePath;
    qint64 atMs = 0;  // 0: when it is handed
    QString uid;      // given when it is handed
    // The serial number of the USB adapter behind the port when the event happened, when it
    // is one.
    QString usbSerial = {};
    // Filled by the trail (the caller leaves them): the exported file as it was when handed;
    // no size nor SHA-256 when it could not be read.
    bool fileRead = false;
    QString fileName = {};
    std::optional<qint64> fileSize = {};
    QString fileSha256 = {};
    // Stamped as the event is handed: the bench and the program it happened on, whichever
    // program later writes it.
    QString hostName = {};
    QString programVersion = {};
};

// What the trail stamps on an event handed to it: this computer's name, this program's version.
QString AuditHostName();
QString AuditProgramVersion();

// How many of the events a trail wrote it keeps, to write them again into an archive made in
// place of the one they went to.
constexpr size_t kRewrittenAuditEvents = 10000;

// The operator's words for an action ("开始实验", "删除实验", ...).
QString AuditActionText(const QString& action);

class AuditTrail {
  public:
    explicit AuditTrail(QString archivePath, int retryMs = 10000);
    // close(), when it was not called.
    ~AuditTrail();

    // Writes what was handed (for at most a few seconds, less when the archive fails), leaves
    // the rest beside the archive, then ends its thread; a thread stuck on a stalled disk is
    // left to finish by itself (what it was writing is left beside the archive too, and
    // written once). Reads no file itself: an exported file the thread has not read by then
    // is named only. Returns what was left and what could be kept nowhere. Later calls do
    // nothing.
    UnwrittenEvents close();
    AuditTrail(const AuditTrail&) = delete;
    AuditTrail& operator=(const AuditTrail&) = delete;

    // Any thread; returns at once.
    void record(AuditEvent event);
    // Waits until everything handed so far is written; false on a timeout, or, while the
    // archive refuses, as soon as the files of the events handed so far are read.
    bool flush(int timeoutMs);

    struct Shared;  // the queue the trail's thread takes events from

  private:
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    bool m_closed = false;
};

}  // namespace archive
