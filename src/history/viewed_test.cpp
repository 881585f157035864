#include "history/viewed_test.h"

#include <QPointer>
#include <QPushButton>
#include <QTableWidget>

#include "history/archive_access.h"
#include "history/result_panel.h"
#include "history/test_csv_export.h"
#include "history/test_report_export.h"
#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "platform/message_box.h"
#include "run/archived_test_loading.h"

namespace {

// The panel sits below the chart frame, its left edge on the frame's.
constexpr int kPanelGap = 10;
constexpr int kBottomMargin = 12;

bool Finished(archive::TestState state) {
    return state == archive::TestState::FinishedByMinutes ||
           state == archive::TestState::FinishedByInstrument;
}

}  // namespace

std::optional<ViewedTest> LoadViewedTest(QWidget* owner, const QString& archivePath, qint64 id) {
    std::unique_ptr<archive::ArchiveReader> reader = OpenArchiveReaderOrWarn(owner, archivePath);
    if (!reader) return std::nullopt;
    std::optional<archive::ArchivedTest> test = LoadTestOrWarn(owner, *reader, id);
    if (!test) return std::nullopt;
    ViewedTest viewed;
    viewed.test = std::move(*test);
    viewed.lastPoll = reader->lastPoll(id);
    return viewed;
}

QString ViewedTestTitle(const archive::ArchivedTest& test) {
    return QStringLiteral("历史实验 %1 %2（只读）")
        .arg(test.header.testDate, test.header.startTime);
}

ResultPanel* ShowTestForViewing(Testclass& form, const ViewedTest& viewed,
                                const QString& archivePath) {
    const archive::ArchivedTest& test = viewed.test;
    ShowArchivedTest(form, test);
    if (viewed.lastPoll && !viewed.lastPoll->voltage.isEmpty())
        form.setItemTextOnGui(FormId::Voltage, viewed.lastPoll->voltage);
    if (Finished(test.state)) {
        // As the window showed it at the end of the test.
        form.setItemTextOnGui(FormId::RemainingMinutes, QStringLiteral("完成"));
        form.setChannelStatusOnGui(QStringLiteral("完成"));
    }

    auto* panel = new ResultPanel(test, &form);
    panel->setObjectName(QStringLiteral("resultPanel"));
    const QRect chart = form.chartFrameRect();
    panel->move(chart.left(), chart.bottom() + 1 + kPanelGap);
    panel->resize(panel->minimumSize());
    panel->show();
    form.setMinimumHeight(panel->geometry().bottom() + 1 + kBottomMargin);
    // Tab goes from the form's last button to the panel.
    if (QWidget* close = form.item(FormId::CloseTest)) QWidget::setTabOrder(close, panel->table());
    QWidget::setTabOrder(panel->table(), panel->csvButton());
    QWidget::setTabOrder(panel->csvButton(), panel->reportButton());
    QWidget::setTabOrder(panel->reportButton(), panel->printButton());

    QPointer<Testclass> owner(&form);
    if (viewed.serverPolls) {
        // The report is made on the bench that ran the test: say so rather than do nothing.
        for (QPushButton* button : {panel->reportButton(), panel->printButton()}) {
            button->setEnabled(false);
            button->setToolTip(ServerTestReportText());
        }
        auto shown = std::make_shared<const archive::ArchivedTest>(test);
        QObject::connect(panel, &ResultPanel::exportCsvRequested, &form,
                         [owner, shown, polls = viewed.serverPolls] {
                             if (owner) ExportPollsCsv(owner, *shown, *polls);
                         });
        return panel;
    }
    const qint64 id = test.id;
    QObject::connect(panel, &ResultPanel::exportCsvRequested, &form, [owner, archivePath, id] {
        if (owner) ExportTestCsv(owner, archivePath, id);
    });
    QObject::connect(panel, &ResultPanel::exportReportRequested, &form, [owner, archivePath, id] {
        if (owner) ExportTestReportPdf(owner, archivePath, id);
    });
    QObject::connect(panel, &ResultPanel::printRequested, &form, [owner, archivePath, id] {
        if (owner) PrintTestReportOf(owner, archivePath, id);
    });
    return panel;
}

ResultPanel* ResultPanelOf(const Testclass& form) {
    return form.findChild<ResultPanel*>(QStringLiteral("resultPanel"), Qt::FindDirectChildrenOnly);
}
