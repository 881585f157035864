#include "history/test_csv_export.h"

#include <QApplication>

#include "export/file_replace.h"
#include "history/archive_access.h"
#include "export/poll_csv.h"
#include "platform/file_dialog.h"
#include "run/run_audit.h"

namespace {

// The file to write, from the save dialog; empty when the operator gave none.
QString AskCsvPath(QWidget* owner, const archive::TestHeader& header) {
    FileDialog::SaveRequest request;
    request.filter = QStringLiteral("*.csv");
    request.defaultSuffix = QStringLiteral("csv");
    request.proposedName = header.testDate + u'_' + QString(header.startTime).remove(u':');
    request.confirmOverwrite = true;
    return FileDialog::getSaveFileName(owner, request);
}

// Writes the CSV of `polls` to `path` and notes the export in the audit trail; a failure is
// told to the operator.
bool WriteCsv(QWidget* owner, const QString& path, const archive::ArchivedTest& test,
              const std::vector<archive::PollRow>& polls) {
    const QString failure = ReplaceFileContentsOrExplain(path, BuildPollCsv(polls, test.records),
                                                         QStringLiteral("CSV文件"));
    if (!failure.isEmpty()) {
        WarnOperator(owner, failure);
        return false;
    }
    RunAudit::recordFile(nullptr, QStringLiteral("csv_exported"), QStringLiteral("CSV"), path,
                         test.header.uid);
    return true;
}

}  // namespace

bool ExportTestCsv(QWidget* owner, const QString& archivePath, qint64 id) {
    std::unique_ptr<archive::ArchiveReader> reader = OpenArchiveReaderOrWarn(owner, archivePath);
    if (!reader) return false;
    const std::optional<archive::ArchivedTest> test = LoadTestOrWarn(owner, *reader, id);
    if (!test) return false;

    const QString path = AskCsvPath(owner, test->header);
    if (path.isEmpty()) return false;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::vector<archive::PollRow> polls = reader->polls(id);
    const QString readError = reader->lastError();
    QApplication::restoreOverrideCursor();
    if (!readError.isEmpty()) {
        WarnOperator(owner, readError + QStringLiteral("\nCSV文件没有保存。"));
        return false;
    }
    return WriteCsv(owner, path, *test, polls);
}

bool ExportPollsCsv(QWidget* owner, const archive::ArchivedTest& test,
                    const std::vector<archive::PollRow>& polls) {
    const QString path = AskCsvPath(owner, test.header);
    return !path.isEmpty() && WriteCsv(owner, path, test, polls);
}
