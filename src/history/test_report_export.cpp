#include "history/test_report_export.h"

#include <QApplication>
#include <QPrinter>

#include "archive/archive_messages.h"
#include "archive/archive_open.h"
#include "archive/sqlite_handle.h"
#include "export/file_replace.h"
#include "export/grading_scheme.h"
#include "history/archive_access.h"
#include "platform/file_dialog.h"
#include "platform/print_dialog.h"
#include "report/report_content.h"
#include "report/report_output.h"
#include "run/run_audit.h"
#include "server/server_settings.h"
#include "server/test_account.h"

namespace {

// The report's content from the archive; nothing after a box that says why. `uid` is the
// test's, for the audit trail.
std::optional<ReportContent> ReadReport(QWidget* owner, const QString& archivePath, qint64 id,
                                        QString* proposedName, QString* uid) {
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
    QString readError = reader->lastError();
    std::vector<archive::AuditRow> audit;
    if (readError.isEmpty()) {
        // The events tell what paused the test; a report without them would guess.
        audit = reader->auditEvents(test->header.uid);
        readError = reader->lastError();
    }
    // The code is made from the archive's account of the test, which the lab server's equals
    // once it holds the whole test.
    server::TestAccount account;
    if (readError.isEmpty()) {
        try {
            archive::Connection db(archivePath, SQLITE_OPEN_READONLY);
            sqlite3_busy_timeout(db.get(), archive::kBusyTimeoutMs);
            server::PollTally tally;
            account = server::LocalAccount(db, id, tally);
        } catch (const archive::SqlError& e) {
            readError = QStringLiteral("无法读取测试档案中这项实验的数据：%1。")
                            .arg(archive::CauseText(e, archivePath, archive::kBusyTimeoutMs));
        }
    }
    // An address edited by hand into something else gives no QR code rather than a wrong one.
    QString verifyBase = server::ReadVerifyBase();
    if (!server::VerifyBaseProblem(verifyBase).isEmpty()) verifyBase.clear();
    std::optional<ReportContent> content;
    if (readError.isEmpty())
        content =
            MakeReportContent(*test, polls, audit, StoredGradingScheme(), account, verifyBase);
    QApplication::restoreOverrideCursor();
    if (!content) {
        WarnOperator(owner, readError + QStringLiteral("\n试验报告没有生成。"));
        return std::nullopt;
    }
    if (proposedName) *proposedName = QStringLiteral("试验报告_") + content->reportNumber;
    *uid = test->header.uid;
    return content;
}

}  // namespace

bool ExportTestReportPdf(QWidget* owner, const QString& archivePath, qint64 id) {
    QString proposedName, uid;
    const std::optional<ReportContent> content =
        ReadReport(owner, archivePath, id, &proposedName, &uid);
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
    if (!failure.isEmpty()) {
        WarnOperator(owner, failure);
        return false;
    }
    RunAudit::recordFile(nullptr, QStringLiteral("exported"), QStringLiteral("试验报告"), path,
                         uid);
    return true;
}

bool PrintTestReportOf(QWidget* owner, const QString& archivePath, qint64 id) {
    QString uid;
    const std::optional<ReportContent> content = ReadReport(owner, archivePath, id, nullptr, &uid);
    if (!content) return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setDocName(content->title + u' ' + content->reportNumber);
    if (!PrintDialog::choose(owner, printer)) return false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool printed = PrintTestReport(printer, *content);
    QApplication::restoreOverrideCursor();
    if (!printed) {
        WarnOperator(
            owner,
            QStringLiteral("打印机 %1 无法打开，试验报告没有打印。").arg(printer.printerName()));
        return false;
    }
    // A print to a file is noted with the file, as an export is; one on paper names the printer.
    if (!printer.outputFileName().isEmpty())
        RunAudit::recordFile(nullptr, QStringLiteral("printed"), QStringLiteral("试验报告"),
                             printer.outputFileName(), uid);
    else
        RunAudit::record(QStringLiteral("printed"), uid,
                         QStringLiteral("打印：试验报告，打印机 %1").arg(printer.printerName()));
    return true;
}

QString ServerTestReportText() {
    return QStringLiteral(
        "实验室服务器上的实验不能在此生成试验报告：试验报告由运行该实验的试验台从其测试档案导出或打印"
        "。");
}
