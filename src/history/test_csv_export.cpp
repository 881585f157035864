#include "history/test_csv_export.h"

#include <QApplication>
#include <QFileInfo>

#include "archive/archive_reader.h"
#include "export/file_replace.h"
#include "export/poll_csv.h"
#include "platform/file_dialog.h"
#include "platform/message_box.h"

namespace {

void Warn(QWidget* owner, const QString& text) {
    MessageBox::show(owner, text, MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                     MessageBox::Icon::Exclamation);
}

}  // namespace

bool ExportTestCsv(QWidget* owner, const QString& archivePath, qint64 id) {
    QString message;
    std::unique_ptr<archive::ArchiveReader> reader =
        archivePath.isEmpty() ? nullptr : archive::ArchiveReader::open(archivePath, &message);
    if (!reader) {
        Warn(owner, message.isEmpty() ? QStringLiteral("没有可用的测试档案。") : message);
        return false;
    }
    const std::optional<archive::ArchivedTest> test = reader->loadTest(id);
    if (!test) {
        Warn(owner, reader->lastError().isEmpty() ? QStringLiteral("测试档案中已没有这项实验。")
                                                  : reader->lastError());
        return false;
    }

    FileDialog::SaveRequest request;
    request.filter = QStringLiteral("*.csv");
    request.defaultSuffix = QStringLiteral("csv");
    request.proposedName =
        test->header.testDate + u'_' + QString(test->header.startTime).remove(u':');
    request.confirmOverwrite = true;
    const QString path = FileDialog::getSaveFileName(owner, request);
    if (path.isEmpty()) return false;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::vector<archive::PollRow> polls = reader->polls(id);
    const QString readError = reader->lastError();
    const QByteArray bytes =
        readError.isEmpty() ? BuildPollCsv(polls, test->records) : QByteArray();
    QApplication::restoreOverrideCursor();
    if (!readError.isEmpty()) {
        Warn(owner, readError + QStringLiteral("\nCSV文件没有保存。"));
        return false;
    }
    const bool existed = QFileInfo::exists(path);
    QString reason;
    if (!ReplaceFileContents(path, bytes, &reason)) {
        QString text = QStringLiteral("无法保存CSV文件：\n%1\n%2").arg(path, reason);
        if (existed) text += QStringLiteral("\n原有的同名文件没有改动。");
        Warn(owner, text);
        return false;
    }
    return true;
}
