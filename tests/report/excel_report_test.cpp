#include "export/excel_report.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QTableWidget>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QApplication>
#include <atomic>
#include <thread>

#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "platform/program_folder.h"
#include "report/recording_excel_driver.h"
#include "support/scripted_dialogs.h"
#include "state/test_state.h"

namespace {

QString ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

class ExcelReport : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTestStateForTests();
        g_nTestMinutes = 360;
        g_nRecordInterval = 5;
        g_nDiameter = 100;
        g_strVoltage = "60.0";
        g_strTester = QStringLiteral("张三");
        g_strOrganisation = QStringLiteral("某检测中心");
        for (int i = 0; i < CHANNELS_IN_USE; ++i) {
            g_strSpecimenNo[i] = QStringLiteral("S%1").arg(i + 1);
            g_strLastCharge[i] = "0";
        }
        ASSERT_TRUE(QDir().mkpath(programDir()));
        ASSERT_TRUE(QDir().mkpath(outDir()));
        ProgramFolder::setForTests(programDir());
        WriteFile(templatePath(), "template");
        SetExcelDriverFactory(
            [log = m_log] { return std::make_unique<RecordingExcelDriver>(log); });
    }
    void TearDown() override {
        SetExcelDriverFactory(nullptr);
        ProgramFolder::setForTests(QString());
    }

    QString programDir() const { return m_dir.path() + "/program"; }
    QString outDir() const { return m_dir.path() + "/out"; }
    QString templatePath() const { return programDir() + QStringLiteral("/模板.xls"); }
    QStringList outFiles() const {
        return QDir(outDir()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    // One record on every channel in use, as the record step takes it.
    void record(Testclass& form, const QStringList& currents, const QStringList& charges) {
        for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
            if (g_bChannelOff[slot]) continue;
            QTableWidget* list = form.m_listHistory[slot];
            const int row = list->rowCount();
            list->insertRow(row);
            list->setItem(row, 0, new QTableWidgetItem(QString()));
            list->setItem(row, 1, new QTableWidgetItem(QString::number(row + 1)));
            list->setItem(row, 2, new QTableWidgetItem(currents[slot]));
            list->setItem(row, 3, new QTableWidgetItem(charges[slot]));
            g_nLastRecord = static_cast<uint32_t>(row);
            g_strLastCharge[slot] = charges[slot];
        }
    }

    QTemporaryDir m_dir;
    std::shared_ptr<DriverLog> m_log = std::make_shared<DriverLog>();
    ScriptedMessageBoxes boxes;
    ScriptedFileDialogs files;
};

TEST_F(ExcelReport, ExportRunsTheDriverInOrderAndReplacesTheChosenFile) {
    Testclass form;
    form.OnInitialUpdate();
    boxes.clear();  // no instrument is attached: the port message is not under test
    record(form, {"50(mA)", "51(mA)", "52(mA)", "53(mA)", "54(mA)", "55(mA)"},
           {"1(C)", "2(C)", "3(C)", "4(C)", "5(C)", "6(C)"});
    record(form, {"60(mA)", "61(mA)", "62(mA)", "63(mA)", "64(mA)", "65(mA)"},
           {"10.5(C)", "11(C)", "12(C)", "", "", ""});
    const QString target = outDir() + "/report.xls";
    WriteFile(target, "old report");
    files.answer({outDir() + "/report"});  // typed without the extension

    form.OnSaveExcel();

    ASSERT_EQ(files.requests().size(), 1u);
    const FileDialog::SaveRequest request = files.requests()[0];
    EXPECT_EQ(request.filter, "*.xls");
    EXPECT_EQ(request.defaultSuffix, "xls");
    const QDate today = QDate::currentDate();
    EXPECT_EQ(request.proposedName,
              QStringLiteral("%1-%2-%3").arg(today.year()).arg(today.month()).arg(today.day()));
    EXPECT_TRUE(request.confirmOverwrite);
    EXPECT_TRUE(boxes.texts().isEmpty()) << boxes.texts().join("\n").toStdString();

    const QStringList ops = m_log->ops;
    ASSERT_GE(ops.size(), 4);
    EXPECT_EQ(ops[0], "start");
    EXPECT_EQ(ops[1], "open " + templatePath());
    EXPECT_EQ(ops.mid(2, 7),
              QStringList({"select 通道1", "cell A2 1", "cell B2 50(mA)", "cell C2 1(C)",
                           "cell A3 2", "cell B3 60(mA)", "cell C3 10.5(C)"}));
    EXPECT_TRUE(ops.contains("cell C2 6(C)"));
    EXPECT_TRUE(ops.contains("cell C3 "));     // 通道6: no charge in the second record
    EXPECT_TRUE(ops.contains("cell B3 5"));    // field 1058
    EXPECT_TRUE(ops.contains("cell B4 100"));  // field 1059 on 试验信息, D4 on the report
    EXPECT_TRUE(ops.contains("cell D10 11.17"));
    EXPECT_TRUE(ops.contains("cell D15 0.00"));
    // Stored under a temporary name beside the target, then the office is ended.
    const QString save = ops[ops.size() - 2];
    EXPECT_TRUE(save.startsWith("save " + outDir() + "/.~report-")) << save.toStdString();
    EXPECT_TRUE(save.endsWith(".xls"));
    EXPECT_EQ(ops.last(), "end");
    EXPECT_EQ(ops[ops.size() - 3], "width 15");

    EXPECT_EQ(ReadAll(target), "recorded workbook");
    EXPECT_EQ(outFiles(), QStringList({"report.xls"}));
}

TEST_F(ExcelReport, CancelledDialogDoesNothing) {
    Testclass form;
    form.OnInitialUpdate();
    boxes.clear();  // no instrument is attached: the port message is not under test
    files.answer({""});
    form.OnSaveExcel();
    EXPECT_EQ(m_log->driversMade, 0);
    EXPECT_EQ(boxes.count(), 0);
}

TEST_F(ExcelReport, MissingTemplateIsReportedAndTheOfficeNeverStarted) {
    Testclass form;
    form.OnInitialUpdate();
    boxes.clear();  // no instrument is attached: the port message is not under test
    QFile::remove(templatePath());
    files.answer({outDir() + "/a.xls"});
    form.OnSaveExcel();
    EXPECT_EQ(boxes.texts(), QStringList({"没有找到模板文件"}));
    EXPECT_EQ(m_log->driversMade, 0);
    EXPECT_TRUE(outFiles().isEmpty());
}

TEST_F(ExcelReport, OfficeThatCannotStartIsReportedAndNothingElseHappens) {
    Testclass form;
    form.OnInitialUpdate();
    boxes.clear();  // no instrument is attached: the port message is not under test
    m_log->failOn = "start";
    files.answer({outDir() + "/a.xls"});
    form.OnSaveExcel();
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_EQ(boxes.texts()[0].section('\n', 0, 0), "创建Excel服务失败!");
    EXPECT_EQ(m_log->ops, QStringList({"start"}));
    EXPECT_TRUE(outFiles().isEmpty());
    // The program goes on: the next export works.
    files.answer({outDir() + "/b.xls"});
    form.OnSaveExcel();
    EXPECT_EQ(boxes.count(), 1);
    EXPECT_EQ(outFiles(), QStringList({"b.xls"}));
}

TEST_F(ExcelReport, MissingSheetEndsTheExportAndKeepsTheOldFile) {
    Testclass form;
    form.OnInitialUpdate();
    boxes.clear();  // no instrument is attached: the port message is not under test
    const QString target = outDir() + "/report.xls";
    WriteFile(target, "old report");
    m_log->failOn = QStringLiteral("select 通道3");
    files.answer({target});
    form.OnSaveExcel();

    const QStringList ops = m_log->ops;
    ASSERT_GE(ops.size(), 2);
    EXPECT_EQ(ops[ops.size() - 2], QStringLiteral("select 通道3"));
    EXPECT_EQ(ops.last(), "end");
    EXPECT_EQ(ops.filter("save").size(), 0);
    ASSERT_EQ(boxes.count(), 1);
    const QString message = boxes.texts()[0];
    EXPECT_TRUE(message.contains(target)) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("通道3"))) << message.toStdString();
    EXPECT_EQ(ReadAll(target), "old report");
    EXPECT_EQ(outFiles(), QStringList({"report.xls"}));
}

TEST_F(ExcelReport, RefusedSaveKeepsTheOldFileAndLeavesNoTemporaryFile) {
    Testclass form;
    form.OnInitialUpdate();
    boxes.clear();  // no instrument is attached: the port message is not under test
    const QString target = outDir() + "/report.xls";
    WriteFile(target, "old report");
    m_log->failOn = "save";
    files.answer({target});
    form.OnSaveExcel();
    EXPECT_EQ(m_log->ops.last(), "end");
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_TRUE(boxes.texts()[0].contains(target));
    EXPECT_EQ(ReadAll(target), "old report");
    EXPECT_EQ(outFiles(), QStringList({"report.xls"}));
}

TEST_F(ExcelReport, FolderThatCannotBeWrittenIsReportedBeforeTheOfficeStarts) {
    Testclass form;
    form.OnInitialUpdate();
    boxes.clear();  // no instrument is attached: the port message is not under test
    files.answer({m_dir.path() + "/no such folder/a.xls"});
    form.OnSaveExcel();
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_TRUE(boxes.texts()[0].contains("no such folder"));
    EXPECT_TRUE(m_log->ops.isEmpty());
}

TEST_F(ExcelReport, ReportIsNeverSavedOverItsTemplate) {
    Testclass form;
    form.OnInitialUpdate();
    boxes.clear();  // no instrument is attached: the port message is not under test
    files.answer({templatePath()});
    form.OnSaveExcel();
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_TRUE(m_log->ops.isEmpty());
    EXPECT_EQ(ReadAll(templatePath()), "template");
}

TEST_F(ExcelReport, ChannelOffKeepsItsSheetUntouched) {
    g_bChannelOff[1] = 1;
    Testclass form;
    form.OnInitialUpdate();
    boxes.clear();  // no instrument is attached: the port message is not under test
    record(form, {"1", "2", "3", "4", "5", "6"}, {"1", "2", "3", "4", "5", "6"});
    record(form, {"1", "2", "3", "4", "5", "6"}, {"1", "2", "3", "4", "5", "6"});
    files.answer({outDir() + "/a.xls"});
    form.OnSaveExcel();
    const QStringList ops = m_log->ops;
    EXPECT_FALSE(ops.contains(QStringLiteral("select 通道2")));
    EXPECT_TRUE(ops.contains(QStringLiteral("select 通道3")));
    EXPECT_TRUE(ops.contains("cell B8 S2"));  // 试验信息 and the report sheet
    EXPECT_TRUE(ops.contains("cell D8 0"));   // its charge as the parameters left it
    EXPECT_EQ(boxes.count(), 0);
}

TEST_F(ExcelReport, ExportAskedForFromAnotherThreadRunsOnTheGuiThread) {
    Testclass form;
    form.OnInitialUpdate();
    boxes.clear();  // no instrument is attached: the port message is not under test
    files.answer({outDir() + "/a.xls"});
    std::atomic<bool> done{false};
    std::thread worker([&] {
        form.OnSaveExcel();
        done = true;
    });
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    worker.join();
    EXPECT_EQ(m_log->ops.first(), "start");
    EXPECT_EQ(outFiles(), QStringList({"a.xls"}));
}

}  // namespace

namespace {

// A driver whose start waits until the test lets it go on, as a slow office does.
class SlowDriver : public RecordingExcelDriver {
  public:
    SlowDriver(std::shared_ptr<DriverLog> log, std::atomic<bool>* release)
        : RecordingExcelDriver(std::move(log)), m_release(release) {}
    bool start() override {
        while (!m_release->load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return RecordingExcelDriver::start();
    }

  private:
    std::atomic<bool>* m_release;
};

TEST_F(ExcelReport, TheWindowLivesOnWhileTheOfficeWorks) {
    std::atomic<bool> release{false};
    SetExcelDriverFactory(
        [log = m_log, &release] { return std::make_unique<SlowDriver>(log, &release); });
    Testclass form;
    form.OnInitialUpdate();
    boxes.clear();  // no instrument is attached: the port message is not under test
    files.answer({outDir() + "/a.xls"});

    // While the office works, the GUI thread goes on: a timer fires, the busy box is up with
    // its text, the cursor says busy and the window repaints.
    QStringList seen;
    bool busyCursor = false;
    int timerTicks = 0;
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        ++timerTicks;
        if (QWidget* modal = QApplication::activeModalWidget()) {
            for (QLabel* label : modal->findChildren<QLabel*>()) seen << label->text();
        }
        busyCursor = QApplication::overrideCursor() &&
                     QApplication::overrideCursor()->shape() == Qt::BusyCursor;
        form.repaint();
        if (timerTicks >= 10) release = true;
    });
    watcher.start();
    form.OnSaveExcel();
    watcher.stop();

    EXPECT_GE(timerTicks, 10);
    EXPECT_TRUE(seen.contains(QStringLiteral("正在生成报表…")));
    EXPECT_TRUE(busyCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(outFiles(), QStringList({"a.xls"}));
    EXPECT_EQ(m_log->ops.last(), "end");
    EXPECT_EQ(boxes.count(), 0);
}

}  // namespace

namespace {

TEST_F(ExcelReport, TheProgramEndingDuringAnExportWaitsForTheWholeFile) {
    std::atomic<bool> release{false};
    SetExcelDriverFactory(
        [log = m_log, &release] { return std::make_unique<SlowDriver>(log, &release); });
    Testclass form;
    form.OnInitialUpdate();
    boxes.clear();
    files.answer({outDir() + "/b.xls"});
    // The program is told to end while the office works; the office finishes a little later.
    QTimer::singleShot(20, [] { QCoreApplication::exit(0); });
    std::thread office([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        release = true;
    });
    form.OnSaveExcel();
    office.join();
    EXPECT_EQ(m_log->ops.last(), "end");
    EXPECT_EQ(outFiles(), QStringList({"b.xls"}));  // whole, and nothing left beside it
    EXPECT_EQ(ReadAll(outDir() + "/b.xls"), "recorded workbook");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
