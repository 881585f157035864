#include "export/file_replace.h"

#include "platform/date_text.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace {

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

bool ReplaceFileContents(const QString& path, const QByteArray& bytes, QString* reason) {
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
        if (reason) *reason = failureReason(path, file.error());
        return false;
    }
    return true;
}

QString ProposedExportName(const QDate& date) {
    return DateText(date);
}
