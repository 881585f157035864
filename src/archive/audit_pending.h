#pragma once

#include <QSet>
#include <QString>
#include <deque>
#include <functional>

#include "archive/audit_trail.h"

// The audit events a trail could not write before it ended, left beside the archive in a file
// of their own ("kivo.sqlite.locks/audit-<uuid>.pending") for whichever trail next opens it.
//
// A trail claims a file before it reads it: it locks the file (flock) and renames it to a name
// of its own ("audit-<uuid>.taking-<claimer>"), so that two trails never take one file up at
// once. The lock goes with its holder: a claimed file whose claimer died, or gave up when the
// archive refused, is claimed again by the next trail. A file this account may not open is left
// as it is (another account's claimer may be at work on it). A file a trail holds but cannot
// read or understand (or one no trail leaves: a link, a pipe, a file larger than 16 MiB) is
// never deleted: it is kept as "audit-<uuid>.unreadable" and named in the log.
namespace archive {

// What a trail has said in the log about the files beside the archive, so that it says each
// once however often it opens the archive.
class PendingLog {
  public:
    // `format` has one %s: `about`.
    void once(const QString& about, const char* format);

  private:
    QSet<QString> m_told;
};

// How many of the events, from the first, are kept (in files of a few MiB each); fewer than all
// when the disk took no more.
int LeavePendingAudit(const QString& archivePath, const std::deque<AuditEvent>& events);

// Takes up the files left beside the archive: `write` is given the events of each file (in the
// order they were handed); the file goes once it returns. Throws what `write` throws (the
// archive refused): that file, and the ones not yet reached, wait for the next try.
void TakeUpPendingAudit(const QString& archivePath, PendingLog& log,
                        const std::function<void(const std::vector<AuditEvent>&)>& write);

}  // namespace archive
