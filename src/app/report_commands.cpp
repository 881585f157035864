#include "app/grading_dialog.h"
#include "app/main_frame.h"
#include "archive/test_states.h"
#include "export/grading_scheme.h"
#include "history/archive_access.h"
#include "history/history_window.h"
#include "history/result_panel.h"
#include "history/test_report_export.h"
#include "history/viewed_test.h"
#include "monitor/testclass.h"
#include "platform/message_box.h"
#include "run/archive_session.h"
#include "run/archived_run.h"

// The menu's report commands: the test report of the test the test window shows, saved as
// PDF or printed, and the choice of the grading scheme.

void CMainFrame::OnTestReport(bool print) {
    Testclass* form = testForm();
    if (!form) return;
    const QString archivePath = ArchiveSession::path();
    std::optional<qint64> id = m_viewedTestId;
    if (!id && ResultPanelOf(*form)) {
        // A test read from the lab server, shown without a copy in this archive.
        MessageBox::show(form, ServerTestReportText(), MessageBox::kAppCaption,
                         MessageBox::Buttons::Ok, MessageBox::Icon::Exclamation);
        return;
    }
    if (!id) {
        // The live test: only once it has come to an end, as the archive has it.
        const QString uid = ArchivedRun::uid();
        std::optional<archive::TestSummary> test;
        if (!uid.isEmpty()) {
            std::unique_ptr<archive::ArchiveReader> reader =
                OpenArchiveReaderOrWarn(form, archivePath);
            if (!reader) return;
            for (archive::TestSummary& s : reader->listTests())
                if (s.uid == uid) test = std::move(s);
        }
        if (!test || archive::IsUnfinished(test->state)) {
            MessageBox::show(form, QStringLiteral("实验结束后才能导出或打印试验报告。"),
                             MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                             MessageBox::Icon::Exclamation);
            return;
        }
        id = test->id;
    }
    if (print)
        PrintTestReportOf(form, archivePath, *id);
    else
        ExportTestReportPdf(form, archivePath, *id);
}

void CMainFrame::OnGrading() {
    GradingDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted) return;
    // Every list and panel shows the grades in the scheme now chosen, at once: the history
    // list (of this archive or of the lab server) and the result panel of a test on view.
    if (m_history) m_history->applyGradingScheme();
    if (Testclass* form = testForm())
        if (ResultPanel* panel = ResultPanelOf(*form)) panel->showGrades(StoredGradingScheme());
}
