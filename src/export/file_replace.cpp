#include "export/file_replace.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include "platform/date_text.h"

namespace {

// The file's immutable or append-only attribute (chattr +i / +a): even root cannot rename
// over it. False where the file system keeps no such attributes.
bool Unchangeable(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    const bool known = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    ::close(fd);
    return known && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
}

QString failureReason(const QString& path, QFileDevice::FileError error) {
    const QFileInfo target(path);
    const QFileInfo folder(target.absolutePath());
    if (!folder.exists()) return QStringLiteral("文件夹不存在。");
    if (target.isDir()) return QStringLiteral("已有同名的文件夹。");
    if (error == QFileDevice::WriteError || error == QFileDevice::ResourceError)
        return QStringLiteral("写入失败，磁盘可能已满。");
    if (error == QFileDevice::OpenError || error == QFileDevice::PermissionsError)
        return QStringLiteral("无法在该文件夹中创建文件，请检查写入权限或换一个文件夹。");
    return QStringLiteral("无法写入该文件。");
}

}  // namespace

QString ReplaceFileContentsOrExplain(const QString& path, const QByteArray& bytes,
                                     const QString& what) {
    const bool existed = QFileInfo::exists(path);
    QString reason;
    if (ReplaceFileContents(path, bytes, &reason)) return {};
    QString text = QStringLiteral("无法保存%1：\n%2\n%3").arg(what, path, reason);
    if (existed) text += QStringLiteral("\n原有的同名文件没有改动。");
    return text;
}

QString ReadOnlyTargetReason(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    if (Unchangeable(name)) {
        return QStringLiteral(
            "该文件被设为不可更改（immutable），不能覆盖。请换一个文件名，或请管理员解除锁定。");
    }
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
        (::access(name.constData(), W_OK) != 0 && errno == EACCES)) {
        return QStringLiteral("该文件是只读文件，不能覆盖。请去掉它的只读属性，或换一个文件名。");
    }
    return {};
}

bool ReplaceFileContents(const QString& path, const QByteArray& bytes, QString* reason) {
    // Renaming over a read-only file would succeed (the folder decides that), yet the
    // operator protected that file: it is left as it is.
    if (const QString readOnly = ReadOnlyTargetReason(path); !readOnly.isEmpty()) {
        if (reason) *reason = readOnly;
        return false;
    }
    QSaveFile file(path);
    // Never fall back to writing the target in place: that is what could destroy it.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        if (reason) *reason = failureReason(path, file.error());
        return false;
    }
    // The bytes are flushed here: commit() does not notice a buffer that failed to reach
    // the disk (a full disk), and would put an empty file in the target's place.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QFileDevice::FileError error = file.error();
        file.cancelWriting();
        file.commit();  // removes the temporary file
        if (reason) *reason = failureReason(path, error);
        return false;
    }
    if (!file.commit()) {
        // An attribute set meanwhile makes the rename fail: that cause is named.
        if (reason) {
            const QString readOnly = ReadOnlyTargetReason(path);
            *reason = readOnly.isEmpty() ? failureReason(path, file.error()) : readOnly;
        }
        return false;
    }
    return true;
}

QString ProposedExportName(const QDate& date) {
    return DateText(date);
}
