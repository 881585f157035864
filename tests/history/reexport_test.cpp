// A live test against the virtual instrument, its exports saved at the end; then the same
// test opened from the archive in view mode and saved again. The files must be the same,
// and the result figures the same as the report template's formulas compute.

#include <QCryptographicHash>

#include "archive/archive_writer.h"
#include "e2e/operator_fixture.h"
#include "export/penetrability.h"
#include "export/report_plan.h"
#include "history/history_window.h"
#include "history/result_panel.h"
#include "history/test_list_model.h"
#include "history/viewed_test.h"
#include "run/archive_session.h"

namespace {

QByteArray Bytes(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

class Reexport : public OperatorRun {
  protected:
    void SetUp() override {
        OperatorRun::SetUp();
        qputenv("KIVO_ARCHIVE", m_dir.filePath(QStringLiteral("kivo.sqlite")).toLocal8Bit());
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // Runs a three-minute test to its end; the pictures and the report are saved when it
    // ends, the text data after it. Then the window is closed with the password.
    void runLiveTest() {
        startBench(30);
        ASSERT_EQ(
            openTestWindow(3, QStringLiteral("王建国"), QStringLiteral("市建设工程质量检测中心")),
            (QStringList{"CLoginDlg", "CParamDlg"}));
        initialise();
        m_files.answer({path("live.bmp"), path("live.xls")});
        m_boxes.answer({MessageBox::Ok, m_office ? MessageBox::Ok : MessageBox::Cancel});
        click(FormId::StartButton);
        ASSERT_TRUE(waitForTestEnd(2, 50000));
        m_files.answer({path("live.bln")});
        click(FormId::SaveText);
        ModalScript script;
        script.then<CExitDlg>([](CExitDlg* d) {
            static_cast<QLineEdit*>(d->item(CExitDlg::IdPassword))->setText(kPassword);
            static_cast<QPushButton*>(d->item(1))->click();
        });
        click(FormId::CloseTest);
        ASSERT_TRUE(PumpUntil([&] { return form() == nullptr; }));
        ASSERT_TRUE(ArchiveSession::writer()->flush(30000));
    }
};

}  // namespace

TEST_F(Reexport, ATestOpenedFromTheArchiveExportsTheSameFilesAsItsLiveRun) {
    runLiveTest();
    if (HasFatalFailure()) return;

    // The test in view mode, from the history window.
    frame()->OnHistory();
    HistoryWindow* history = frame()->historyWindow();
    ASSERT_EQ(history->model()->rowCount(), 1);
    const archive::TestSummary summary = history->model()->test(0);
    EXPECT_EQ(summary.state, archive::TestState::FinishedByMinutes);
    ASSERT_TRUE(history->selectTest(summary.id));
    m_boxes.clear();
    history->openSelected();
    ASSERT_NE(form(), nullptr);
    EXPECT_TRUE(form()->viewOnly());
    EXPECT_EQ(m_boxes.count(), 0) << m_boxes.texts().join(' ').toStdString();

    m_files.answer({path("view.bln")});
    click(FormId::SaveText);
    m_files.answer({path("view.bmp")});
    click(FormId::SaveChart);
    EXPECT_EQ(Bytes(path("view.bln")), Bytes(path("live.bln")));
    EXPECT_FALSE(Bytes(path("live.bln")).isEmpty());
    for (int channel = 1; channel <= 9; ++channel) {
        auto name = [channel](const char* run) {
            return QStringLiteral("%1通道%2.bmp").arg(QLatin1String(run)).arg(channel);
        };
        const QByteArray live = Bytes(path(name("live")));
        EXPECT_GT(live.size(), 1000) << channel;
        EXPECT_TRUE(Bytes(path(name("view"))) == live) << "channel " << channel;
    }

    // The figures of the list and of the view window, from the same texts.
    const int diameter = summary.diameter;
    ResultPanel* panel = ResultPanelOf(*form());
    ASSERT_NE(panel, nullptr);
    for (int slot = 0; slot < 6; ++slot) {
        const std::optional<ChargeResult> r = ChargeResultOf(summary.lastCharge[slot], diameter);
        ASSERT_TRUE(r) << summary.lastCharge[slot].toStdString();
        EXPECT_EQ(panel->cell(ResultPanel::AdjustedRow, slot), AdjustedChargeText(r->adjusted));
        EXPECT_EQ(history->model()->index(0, TestListModel::resultColumn(slot)).data().toString(),
                  AdjustedChargeText(r->adjusted) + " " + PenetrabilityText(r->grade));
        EXPECT_EQ(panel->cell(ResultPanel::GradeRow, slot), PenetrabilityText(r->grade));
    }

    if (!m_office) GTEST_SKIP() << "built without the office: the report is not written";
    m_files.answer({path("view.xls")});
    click(FormId::SaveExcel);
    // The office stamps its files: the workbooks are compared cell for cell.
    const QJsonObject live = readWorkbook(path("live.xls"));
    const QJsonObject viewed = readWorkbook(path("view.xls"));
    EXPECT_FALSE(live.isEmpty());
    EXPECT_EQ(viewed, live);

    // The template's own figures: each channel's adjusted charge and class in E and F of its
    // row, the means of channels 1-3 and 4-6 in rows 10 and 15.
    const QJsonObject sheet = live[kReportSheetName].toObject();
    const int rows[] = {7, 8, 9, 12, 13, 14};
    for (int slot = 0; slot < 6; ++slot) {
        const QString e = QStringLiteral("E%1").arg(rows[slot]);
        const QString f = QStringLiteral("F%1").arg(rows[slot]);
        const std::optional<ChargeResult> r = ChargeResultOf(summary.lastCharge[slot], diameter);
        ASSERT_TRUE(sheet[e].isDouble()) << e.toStdString();
        EXPECT_EQ(sheet[e].toDouble(), r->adjusted) << e.toStdString();
        EXPECT_EQ(sheet[f].toString(), PenetrabilityText(r->grade)) << f.toStdString();
    }
    for (int group = 0; group < 2; ++group) {
        const QStringList texts = {summary.lastCharge[3 * group], summary.lastCharge[3 * group + 1],
                                   summary.lastCharge[3 * group + 2]};
        const std::optional<ChargeResult> mean = MeanResultOf(texts, diameter);
        ASSERT_TRUE(mean);
        const int at = group == 0 ? 10 : 15;
        EXPECT_EQ(sheet[QStringLiteral("D%1").arg(at)].toDouble(), mean->charge);
        EXPECT_EQ(sheet[QStringLiteral("E%1").arg(at)].toDouble(), mean->adjusted);
        EXPECT_EQ(sheet[QStringLiteral("F%1").arg(at)].toString(), PenetrabilityText(mean->grade));
    }
    EXPECT_EQ(m_boxes.count(), 0) << m_boxes.texts().join(' ').toStdString();
}
