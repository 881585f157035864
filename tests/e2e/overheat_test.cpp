// A test whose specimens overheat, as an operator meets it: the program pauses the test by
// itself once the temperature has reached 90 ℃, keeps its records in the window and in the
// archive, and "开始实验" carries on.

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <optional>

#include "archive/archive_location.h"
#include "archive/archive_reader.h"
#include "archive/audit_trail.h"
#include "export/grading_scheme.h"
#include "operator_fixture.h"
#include "report/report_content.h"
#include "report/report_output.h"
#include "run/archive_session.h"
#include "run/temperature_watch.h"

namespace {

const QString kOverheated = QStringLiteral("试件温度已达到90℃，实验已暂停！");
const QString kStart = QStringLiteral("01W071 1111");
const QString kStop = QStringLiteral("00W071 0000");

// The one test of the program's archive, read once `done` holds for it (the archive is
// written behind the window's back, so it may lag a moment).
std::optional<archive::ArchivedTest> ArchivedTestOnce(
    const std::function<bool(const archive::ArchivedTest&)>& done) {
    std::optional<archive::ArchivedTest> test;
    PumpUntil([&] {
        QString message;
        auto reader = archive::ArchiveReader::open(archive::ArchivePath(), &message);
        if (!reader) return false;
        const std::vector<archive::TestSummary> tests = reader->listTests();
        if (tests.size() != 1) return false;
        test = reader->loadTest(tests[0].id);
        return test && done(*test);
    });
    return test;
}

std::vector<archive::TestState> StatesOf(const archive::ArchivedTest& test) {
    std::vector<archive::TestState> states;
    for (const archive::StateChange& change : test.states) states.push_back(change.state);
    return states;
}

// How often the temperature was asked between request `from` and the next stop command;
// -1 when no stop follows.
int TemperatureRequestsUntilTheStop(const QStringList& requests, qsizetype from) {
    int asked = 0;
    for (qsizetype i = from; i < requests.size(); ++i) {
        if (requests[i] == kStop) return asked;
        if (requests[i] == "00R030") ++asked;
    }
    return -1;
}

// The text of the test report of `test`, made from the program's archive as 导出报告PDF makes
// it, as pdftotext reads it, without blanks.
QString ReportText(const archive::ArchivedTest& test) {
    QString message;
    auto reader = archive::ArchiveReader::open(archive::ArchivePath(), &message);
    if (!reader) return message;
    const ReportContent content =
        MakeReportContent(test, reader->polls(test.id), reader->auditEvents(test.header.uid),
                          GradingScheme::PenetrabilityClasses, {}, {});
    QTemporaryDir dir;
    QFile pdf(dir.filePath("report.pdf"));
    if (!pdf.open(QIODevice::WriteOnly) || pdf.write(TestReportPdf(content)) <= 0) return {};
    pdf.close();
    QProcess p;
    p.start("pdftotext", {pdf.fileName(), "-"});
    if (!p.waitForFinished(30000)) return {};
    return QString::fromUtf8(p.readAllStandardOutput()).remove(QRegularExpression("\\s"));
}

}  // namespace

TEST_F(OperatorRun, OverheatedSpecimensPauseTheTestUntilTheOperatorCarriesOn) {
    // The heater comes on at minute 1 and adds 30 ℃ a minute up to 95 ℃: 90 ℃ is passed
    // a little after minute 3, some seven seconds of the wall clock at this speed.
    startBench(30, {"--heat-after-minutes", "1", "--heat-rate", "30"});
    openTestWindow(30, QStringLiteral("赵磊"), QStringLiteral("交通工程试验检测中心"));
    ASSERT_NE(form(), nullptr);
    initialise();
    click(FormId::StartButton);
    ASSERT_EQ(field(FormId::StartButton), "暂停");

    ASSERT_TRUE(PumpUntil(
        [&] { return m_boxes.count() >= 1 && field(FormId::StartButton) == "开始实验"; }, 60000))
        << m_boxes.texts().join(' ').toStdString();
    EXPECT_EQ(m_boxes.texts(), QStringList{kOverheated});
    EXPECT_EQ(m_boxes.shown()[0].request.caption, "Kivo");
    EXPECT_EQ(g_bTesting.load(), 0);
    const std::optional<double> shown = TemperatureCelsius(field(FormId::Temperature));
    ASSERT_TRUE(shown) << field(FormId::Temperature).toStdString();
    EXPECT_GE(*shown, 90.0);
    EXPECT_EQ(field(FormId::CommStatus), "通信正常");
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot)
        EXPECT_EQ(form()->channelCellOnGui(slot, ChannelColumn::Status), "停止") << slot;
    for (int id : {FormId::SaveText, FormId::SaveChart, FormId::SaveExcel, FormId::CloseTest})
        EXPECT_TRUE(form()->item(id)->isEnabled()) << id;

    // Paused: the records so far stay, and no more come (a record interval is 2 s here).
    const int rows = form()->historyRowCount(0);
    EXPECT_GE(rows, 3);
    PumpFor(2500);
    EXPECT_EQ(form()->historyRowCount(0), rows);
    EXPECT_EQ(m_boxes.count(), 1);

    // The archive has the pause and every record, each with the temperature it was taken at.
    std::optional<archive::ArchivedTest> paused =
        ArchivedTestOnce([&](const archive::ArchivedTest& t) {
            return t.state == archive::TestState::Paused &&
                   static_cast<int>(t.records.size()) == rows;
        });
    ASSERT_TRUE(paused);
    EXPECT_EQ(paused->state, archive::TestState::Paused);
    ASSERT_EQ(static_cast<int>(paused->records.size()), rows);
    double previous = 0;
    for (const archive::RecordRow& record : paused->records) {
        const std::optional<double> celsius = TemperatureCelsius(record.temperature);
        ASSERT_TRUE(celsius) << record.number << ": " << record.temperature.toStdString();
        EXPECT_GE(*celsius, previous) << record.number;  // the cells only warm
        previous = *celsius;
    }
    EXPECT_LT(*TemperatureCelsius(paused->records.front().temperature), 90.0);

    // "开始实验" carries on. The specimens are still hot, so the second reading after the
    // start pauses the test again.
    const qsizetype asked = m_instrument->requests().size();
    click(FormId::StartButton);
    EXPECT_EQ(field(FormId::StartButton), "暂停");
    EXPECT_EQ(form()->channelCellOnGui(0, ChannelColumn::Status), "运行");
    ASSERT_TRUE(PumpUntil(
        [&] { return m_boxes.count() >= 2 && field(FormId::StartButton) == "开始实验"; }, 30000))
        << m_boxes.texts().join(' ').toStdString();
    EXPECT_EQ(m_boxes.texts(), (QStringList{kOverheated, kOverheated}));
    const int finalRows = form()->historyRowCount(0);
    EXPECT_GE(finalRows, rows);
    // The pauses' causes are written by the audit trail's own thread: in the archive before
    // the program closes, so that the report below reads them.
    ASSERT_TRUE(ArchiveSession::audit()->flush(30000));
    closeProgram();

    // On the wire: each pause is the one stop command, after at least two temperature
    // readings of the running test.
    const QStringList requests = m_instrument->requests();
    QStringList writes;
    for (const QString& r : requests)
        if (r.size() > 2 && r[2] == 'W') writes << r;
    EXPECT_EQ(writes, (QStringList{"00W070 1111", kStart, kStop, kStart, kStop}));
    EXPECT_GE(TemperatureRequestsUntilTheStop(requests, requests.indexOf(kStart)), 2);
    EXPECT_GE(TemperatureRequestsUntilTheStop(requests, requests.indexOf(kStart, asked)), 2);

    std::optional<archive::ArchivedTest> closed =
        ArchivedTestOnce([](const archive::ArchivedTest& t) { return t.closed; });
    ASSERT_TRUE(closed);
    using archive::TestState;
    EXPECT_EQ(StatesOf(*closed),
              (std::vector<TestState>{TestState::Running, TestState::Paused, TestState::Running,
                                      TestState::Paused, TestState::Closed}));
    EXPECT_EQ(static_cast<int>(closed->records.size()), finalRows);

    // The report puts both pauses on the temperature watch, with what it read, none on the
    // operator; the test, paused and closed, is reported as unfinished and left ungraded.
    const QString report = ReportText(*closed);
    EXPECT_EQ(report.count("试件温度达到90℃（读数"), 2) << report.toStdString();
    EXPECT_FALSE(report.contains("操作员暂停")) << report.toStdString();
    EXPECT_TRUE(report.contains("未完成试验：暂停后关闭试验窗口")) << report.toStdString();
    EXPECT_TRUE(report.contains("不评定"));
}
