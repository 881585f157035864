#include "archive/archive_use.h"

#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "archive/lock_folder.h"

namespace archive {

ArchiveUse::ArchiveUse(const QString& archivePath) {
    if (!MakeLockFolder(archivePath)) return;
    m_fd = OpenSharedFile(LockFolder(archivePath) + QStringLiteral("/archive.use"));
    if (m_fd >= 0) share();
}

ArchiveUse::~ArchiveUse() {
    if (m_fd >= 0) ::close(m_fd);
}

bool ArchiveUse::tryAlone() {
    if (m_fd < 0) return false;
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) return true;
    // A refused conversion may have let go of the shared hold: take it again.
    share();
    return false;
}

void ArchiveUse::share() {
    // Waits at most for another program's rename of a damaged archive.
    while (::flock(m_fd, LOCK_SH) != 0 && errno == EINTR) {
    }
}

}  // namespace archive
