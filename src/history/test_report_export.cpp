#include "history/test_report_export.h"

#include <QApplication>
#include <QPrinter>

#include "export/file_replace.h"
#include "export/grading_scheme.h"
#include "history/archive_access.h"
#include "platform/file_dialog.h"
#include "platform/print_dialog.h"
#include "report/report_content.h"
#include "report/report_output.h"

namespace {

// The report's content from the archive; nothing after a box that says why.
std::optional<ReportContent> ReadReport(QWidget* owner, const QString& archivePath, qint64 id,
                                        QString* proposedName) {
    std::unique_ptr<archive::ArchiveReader> reader = OpenArchiveReaderOrWarn(owner, archivePath);
    if (!reader) return std::nullopt;
    const std::optional<archive::ArchivedTest> test = LoadTestOrWarn(owner, *reader, id);
    if (!test) return std::nullopt;
    if (test->records.empty()) {
        WarnOperator(owner, QStringLiteral("该实验还没有记录，无法生成试验报告。"));
        return std::nullopt;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::vector<archive::PollRow> polls = reader->polls(id);
    const QString readError = reader->lastError();
    std::optional<ReportContent> content;
    if (readError.isEmpty()) content = MakeReportContent(*test, polls, StoredGradingScheme());
    QApplication::restoreOverrideCursor();
    if (!content) {
        WarnOperator(owner, readError + QStringLiteral("\n试验报告没有生成。"));
        return std::nullopt;
    }
    if (proposedName) *proposedName = QStringLiteral("试验报告_") + content->reportNumber;
    return content;
}

}  // namespace

bool ExportTestReportPdf(QWidget* owner, const QString& archivePath, qint64 id) {
    QString proposedName;
    const std::optional<ReportContent> content = ReadReport(owner, archivePath, id, &proposedName);
    if (!content) return false;

    FileDialog::SaveRequest request;
    request.filter = QStringLiteral("*.pdf");
    request.defaultSuffix = QStringLiteral("pdf");
    request.proposedName = proposedName;
    request.confirmOverwrite = true;
    const QString path = FileDialog::getSaveFileName(owner, request);
    if (path.isEmpty()) return false;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QByteArray pdf = TestReportPdf(*content);
    QApplication::restoreOverrideCursor();
    if (pdf.isEmpty()) {
        WarnOperator(owner, QStringLiteral("试验报告无法生成，PDF文件没有保存。"));
        return false;
    }
    const QString failure = ReplaceFileContentsOrExplain(path, pdf, QStringLiteral("试验报告"));
    if (!failure.isEmpty()) WarnOperator(owner, failure);
    return failure.isEmpty();
}

bool PrintTestReportOf(QWidget* owner, const QString& archivePath, qint64 id) {
    const std::optional<ReportContent> content = ReadReport(owner, archivePath, id, nullptr);
    if (!content) return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setDocName(content->title + u' ' + content->reportNumber);
    if (!PrintDialog::choose(owner, printer)) return false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool printed = PrintTestReport(printer, *content);
    QApplication::restoreOverrideCursor();
    if (!printed)
        WarnOperator(
            owner,
            QStringLiteral("打印机 %1 无法打开，试验报告没有打印。").arg(printer.printerName()));
    return printed;
}
