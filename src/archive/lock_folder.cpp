#include "archive/lock_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>

namespace archive {

namespace {
constexpr mode_t kFolderMode = 02775;  // the group's, and new files inherit the group
constexpr mode_t kFileMode = 0664;
}  // namespace

QString LockFolder(const QString& archivePath) { return archivePath + QStringLiteral(".locks"); }

bool MakeLockFolder(const QString& archivePath) {
    const QByteArray folder = QFile::encodeName(LockFolder(archivePath));
    // The mode is set outright: mkdir's is cut by the umask.
    if (::mkdir(folder.constData(), kFolderMode) == 0) ::chmod(folder.constData(), kFolderMode);
    const int made = errno;
    struct stat st {};
    if (::stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    errno = made;  // why it could not be made
    return false;
}

int OpenSharedFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, kFileMode);
    if (fd < 0) return -1;
    struct stat st {};
    // Only the owner may change the mode; another account's file keeps the mode it was given.
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 07777) != kFileMode)
        ::fchmod(fd, kFileMode);
    return fd;
}

}  // namespace archive
