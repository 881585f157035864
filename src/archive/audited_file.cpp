#include "archive/audited_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace archive {

void ReadAuditedFile(AuditEvent& event) {
    event.fileRead = true;
    if (event.filePath.isEmpty()) return;
    event.fileName = QFileInfo(event.filePath).fileName();
    // Only a regular file is read: a pipe would wait for ever, a device might never end.
    const int fd =
        ::open(QFile::encodeName(event.filePath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat status {};
    QFile file;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) return;
    event.fileSize = file.size();
    event.fileSha256 = QString::fromLatin1(hash.result().toHex());
}

}  // namespace archive
