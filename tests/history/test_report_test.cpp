// The test report of a test run on the virtual instrument: saved as PDF from the test window
// once the test has ended, from the history window's list and from the view window, and
// printed through the print dialog to a printer that prints to a file. The PDFs are read
// with the tools a lab would use (pdftotext, pdffonts, pdfinfo).

#include <sqlite3.h>

#include <QProcess>
#include <QRegularExpression>

#include "archive/archive_writer.h"
#include "archive/audit_trail.h"
#include "archive/sqlite_handle.h"
#include "e2e/operator_fixture.h"
#include "export/grading_scheme.h"
#include "export/penetrability.h"
#include "history/history_window.h"
#include "history/result_panel.h"
#include "history/test_list_model.h"
#include "history/viewed_test.h"
#include "run/archive_session.h"
#include "support/scripted_print_dialog.h"

namespace {

QString Run(const QString& tool, const QStringList& args) {
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0) {
        ADD_FAILURE() << tool.toStdString()
                      << " failed: " << p.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The text of a PDF without any blank, so that words split across drawn cells still match.
QString PdfText(const QString& path) {
    return Run("pdftotext", {path, "-"}).remove(QRegularExpression("\\s"));
}

// Every font of the PDF is embedded, and one of them is the Song/Ming face.
void ExpectFontsEmbedded(const QString& path) {
    const QStringList lines = Run("pdffonts", {path}).split('\n', Qt::SkipEmptyParts);
    ASSERT_GT(lines.size(), 2) << "no fonts in " << path.toStdString();
    bool ming = false;
    for (const QString& line : lines.mid(2)) {
        // name type encoding emb sub uni object ID
        const QStringList f = line.split(' ', Qt::SkipEmptyParts);
        ASSERT_GE(f.size(), 7) << line.toStdString();
        EXPECT_EQ(f[f.size() - 5], "yes") << "not embedded: " << line.toStdString();
        ming = ming || line.contains("Ming", Qt::CaseInsensitive) ||
               line.contains("Song", Qt::CaseInsensitive) ||
               line.contains("Serif", Qt::CaseInsensitive);
    }
    EXPECT_TRUE(ming) << lines.join('\n').toStdString();
}

// A4 portrait (595 × 842 pt, give or take a point), every page numbered of all of them.
void ExpectA4Pages(const QString& path) {
    const QString info = Run("pdfinfo", {path});
    const int pages = QRegularExpression("Pages:\\s+(\\d+)\\n").match(info).captured(1).toInt();
    EXPECT_GE(pages, 2) << info.toStdString();
    const QString text = PdfText(path);
    for (int page = 1; page <= pages; ++page)
        EXPECT_TRUE(text.contains(QStringLiteral("第%1页共%2页").arg(page).arg(pages))) << page;
    const QRegularExpressionMatch size =
        QRegularExpression("Page size:\\s+([\\d.]+) x ([\\d.]+) pts").match(info);
    ASSERT_TRUE(size.hasMatch()) << info.toStdString();
    EXPECT_NEAR(size.captured(1).toDouble(), 595.3, 1.0);
    EXPECT_NEAR(size.captured(2).toDouble(), 841.9, 1.0);
}

class TestReport : public OperatorRun {
  protected:
    void SetUp() override {
        OperatorRun::SetUp();
        qputenv("KIVO_ARCHIVE", path("kivo.sqlite").toLocal8Bit());
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }
};

}  // namespace

TEST_F(TestReport, AnEndedTestsReportCarriesThePanelsFiguresOnTwoA4PagesAndPrints) {
    startBench(30);
    ASSERT_EQ(openTestWindow(3, QStringLiteral("王建国"), QStringLiteral("市建设工程质量检测中心")),
              (QStringList{"CLoginDlg", "CParamDlg"}));
    initialise();
    // Before the test has ended there is no report.
    frame()->command(CMainFrame::ID_REPORT_PDF)->trigger();
    EXPECT_EQ(m_boxes.texts().value(0), "实验结束后才能导出或打印试验报告。");
    m_boxes.clear();
    m_boxes.answer({MessageBox::Cancel, MessageBox::Cancel});  // no picture, no spreadsheet
    click(FormId::StartButton);
    ASSERT_TRUE(waitForTestEnd(2, 50000));
    ASSERT_TRUE(ArchiveSession::writer()->flush(30000));

    // From the test window's menu once it has ended.
    m_boxes.clear();
    m_files.answer({path("live.pdf")});
    frame()->command(CMainFrame::ID_REPORT_PDF)->trigger();
    EXPECT_EQ(m_boxes.count(), 0) << m_boxes.texts().join(' ').toStdString();
    ASSERT_EQ(m_files.requests().back().defaultSuffix, "pdf");
    EXPECT_TRUE(m_files.requests().back().proposedName.startsWith("试验报告_DTL-"));
    EXPECT_TRUE(QFile::exists(path("live.pdf")));
    closeProgram();

    // The lab grades by the durability grades from now on.
    ASSERT_TRUE(StoreGradingScheme(GradingScheme::DurabilityGrades, nullptr));
    startProgram(path("com1"), 1);
    frame()->OnHistory();
    HistoryWindow* history = frame()->historyWindow();
    ASSERT_EQ(history->model()->rowCount(), 1);
    const archive::TestSummary summary = history->model()->test(0);
    ASSERT_TRUE(history->selectTest(summary.id));
    m_files.answer({path("list.pdf")});
    history->exportReportSelected();
    EXPECT_EQ(m_boxes.count(), 0) << m_boxes.texts().join(' ').toStdString();

    const QString text = PdfText(path("list.pdf"));
    for (const char* words : {"混凝土氯离子电通量试验报告", "王建国", "市建设工程质量检测中心",
                              "第1页共", "试验：", "审核：", "批准：", "电通量耐久性等级",
                              "开始试验", "达到试验时间，试验完成", "试验中最高温度"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(words))) << words;
    // The number is the test's own, from its uid, on every bench.
    EXPECT_TRUE(text.contains(QStringLiteral("报告编号：DTL-%1-%2")
                                  .arg(QDate::currentDate().toString("yyyyMMdd"))
                                  .arg(summary.uid.left(8).toUpper())))
        << text.toStdString();

    // The figures of the view window's panel: each channel's Q, Qs and grade, each group's
    // value, grade and rule.
    history->openSelected();
    ASSERT_NE(form(), nullptr);
    ResultPanel* panel = ResultPanelOf(*form());
    ASSERT_NE(panel, nullptr);
    const TestResults results = ResultsOf(summary.lastCharge, summary.channelOff, summary.diameter);
    for (int slot = 0; slot < 6; ++slot) {
        const QString q = panel->cell(ResultPanel::ChargeRow, slot);
        const QString qs = panel->cell(ResultPanel::AdjustedRow, slot);
        const QString grade = panel->cell(ResultPanel::GradeRow, slot);
        ASSERT_FALSE(qs.isEmpty()) << slot;
        EXPECT_TRUE(grade.startsWith("Q-")) << grade.toStdString();
        // A table row: channel, specimen number, Q, Qs, grade, the final current.
        const QString row = QString::number(slot + 1) +
                            form()->channelCellOnGui(slot, ChannelColumn::SpecimenNo) + q + qs +
                            grade;
        EXPECT_TRUE(text.contains(row)) << row.toStdString();
    }
    for (int g = 0; g < 2; ++g) {
        ASSERT_TRUE(results.groups[g]);
        const QString row =
            GroupName(g) +
            panel->cell(ResultPanel::AdjustedRow, ResultPanel::FirstGroupColumn + g) +
            panel->cell(ResultPanel::GradeRow, ResultPanel::FirstGroupColumn + g) +
            GroupRuleText(*results.groups[g]).remove(QRegularExpression("\\s"));
        EXPECT_TRUE(text.contains(row)) << row.toStdString();
    }
    ExpectFontsEmbedded(path("list.pdf"));
    ExpectA4Pages(path("list.pdf"));
    ExpectA4Pages(path("live.pdf"));

    // From the view window: the same report, through the dialog and the printer path.
    m_files.answer({path("view.pdf")});
    panel->reportButton()->click();
    EXPECT_EQ(PdfText(path("view.pdf")), text);
    {
        ScriptedPrintDialog printer(path("printed.pdf"));
        panel->printButton()->click();
        EXPECT_EQ(printer.shown(), 1);
    }
    EXPECT_EQ(PdfText(path("printed.pdf")), text);
    ExpectFontsEmbedded(path("printed.pdf"));
    ExpectA4Pages(path("printed.pdf"));
    // A cancelled print dialog prints nothing.
    {
        ScriptedPrintDialog cancelled{QString()};
        panel->printButton()->click();
        EXPECT_EQ(cancelled.shown(), 1);
    }
    EXPECT_EQ(m_boxes.count(), 0) << m_boxes.texts().join(' ').toStdString();

    // Each PDF written and each print is in the audit trail with its file, as other exports.
    ASSERT_TRUE(ArchiveSession::audit()->flush(30000));
    archive::Connection db(path("kivo.sqlite"), SQLITE_OPEN_READONLY);
    archive::Statement s(db,
                         "SELECT action, file_kind, file_name, file_size, file_sha256, test_uid "
                         "FROM audit_event WHERE file_kind = '试验报告' ORDER BY id");
    QStringList files;
    while (s.step()) {
        EXPECT_EQ(s.text(5), summary.uid);
        EXPECT_EQ(s.text(4).size(), 64) << s.text(2).toStdString();
        EXPECT_GT(s.integer(3), 1000);
        files << s.text(0) + ' ' + s.text(2);
    }
    EXPECT_EQ(files, (QStringList{"exported live.pdf", "exported list.pdf", "exported view.pdf",
                                  "printed printed.pdf"}));
}
