#pragma once

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
// archive refused, is claimed again by the next trail. A file that cannot be read or understood
// is never deleted: it is kept as "audit-<uuid>.unreadable" and named in the log.
namespace archive {

// False when the events could be kept nowhere.
bool LeavePendingAudit(const QString& archivePath, const std::deque<AuditEvent>& events);

// Takes up the files left beside the archive: `write` is given the events of each file (in the
// order they were handed); the file goes once it returns. Throws what `write` throws (the
// archive refused): that file, and the ones not yet reached, wait for the next try.
void TakeUpPendingAudit(const QString& archivePath,
                        const std::function<void(const std::vector<AuditEvent>&)>& write);

}  // namespace archive
