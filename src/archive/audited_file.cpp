#include "archive/audited_file.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace archive {

void ReadAuditedFile(AuditEvent& event) {
    event.fileRead = true;
    if (event.filePath.isEmpty()) return;
    event.fileName = QFileInfo(event.filePath).fileName();
    QFile file(event.filePath);
    if (!file.open(QIODevice::ReadOnly)) return;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) return;
    event.fileSize = file.size();
    event.fileSha256 = QString::fromLatin1(hash.result().toHex());
}

}  // namespace archive
