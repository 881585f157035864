#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QString>

// Inputs an operator can type or paste into any field, shared by the tables of cases.
namespace BadInput {

inline QString Huge(QChar c = u'测') { return QString(10000, c); }
inline const QString kEmoji = QStringLiteral("😀");
inline const QString kKorean = QStringLiteral("한국어");
inline const QString kTab = QStringLiteral("a\tb");
inline const QString kNewline = QStringLiteral("a\nb");
inline const QString kSoh = QStringLiteral(
    "a\x01"
    "b");

inline const QString kNotInteger = QStringLiteral("请键入一个整数。");

// Mounts a 64 KB file system on `folder` (root only); false when this machine does not allow it.
inline bool MountTinyDisk(const QString& folder) {
    return ::getuid() == 0 &&
           QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", folder}) == 0;
}
inline void Unmount(const QString& folder) { QProcess::execute("umount", {folder}); }

// Fills the disk of `folder` to its last byte with a file "filler".
inline bool FillDisk(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder + "/filler").constData(),
                          O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const char block[4096] = {};
    while (::write(fd, block, sizeof block) > 0) {
    }
    while (::write(fd, block, 1) > 0) {
    }
    ::close(fd);
    return true;
}

}  // namespace BadInput
