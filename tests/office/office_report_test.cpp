// The report through the real office: the workbook it saves is read back with xlrd, an
// independent reader of the .xls format.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>

#include "export/excel_report.h"
#include "export/office/office_launch_options.h"
#include "monitor/testclass.h"
#include "platform/program_folder.h"
#include "run/form_snapshots.h"
#include "state/test_state.h"
#include "support/scripted_dialogs.h"

namespace {

const QString kBuiltTemplateFolder = QStringLiteral(KIVO_BINARY_DIR "/src");

// Every non-empty cell of every sheet as [type, value] (xlrd: 1 text, 2 number), and the
// widths of the first six columns in 1/256 of a character.
const char* kReadXls = R"(
import json, sys, xlrd
book = xlrd.open_workbook(sys.argv[1], formatting_info=True)
out = {"sheets": book.sheet_names(), "cells": {}, "widths": {}}
for s in book.sheets():
    cells = {}
    for r in range(s.nrows):
        for c in range(s.ncols):
            cell = s.cell(r, c)
            if cell.ctype != xlrd.XL_CELL_EMPTY:
                cells[xlrd.cellname(r, c)] = [cell.ctype, cell.value]
    out["cells"][s.name] = cells
    out["widths"][s.name] = [s.colinfo_map[c].width if c in s.colinfo_map else None
                             for c in range(6)]
print(json.dumps(out))
)";

QJsonObject ReadXls(const QString& path) {
    QProcess python;
    python.start("/usr/bin/python3", {"-c", kReadXls, path});
    if (!python.waitForFinished(20000) || python.exitCode() != 0) {
        ADD_FAILURE() << "xlrd could not read " << path.toStdString() << ": "
                      << python.readAllStandardError().toStdString();
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

struct Cell {
    int type = 0;  // 0 empty, 1 text, 2 number
    QJsonValue value;
};

Cell At(const QJsonObject& book, const QString& sheet, const QString& name) {
    const QJsonArray a = book["cells"].toObject()[sheet].toObject()[name].toArray();
    if (a.isEmpty()) return {};
    return {a[0].toInt(), a[1]};
}

// The processes whose command line holds `argument`, with their command lines.
std::vector<std::pair<pid_t, QByteArray>> ProcessesWithArgument(const QString& argument) {
    std::vector<std::pair<pid_t, QByteArray>> found;
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile cmdline("/proc/" + pid + "/cmdline");
        if (!cmdline.open(QIODevice::ReadOnly)) continue;
        const QByteArray line = cmdline.readAll();
        if (line.contains(argument.toUtf8()) && pid.toInt() != getpid()) {
            found.emplace_back(pid.toInt(), line);
        }
    }
    return found;
}

bool ProcessWithArgumentRuns(const QString& argument) {
    return !ProcessesWithArgument(argument).empty();
}

// The offices this test program started: their pipe is named after its process.
QString OurOfficesPipe() { return QStringLiteral("pipe,name=kivo%1x").arg(getpid()); }

class OfficeReport : public ::testing::Test {
  protected:
    void SetUp() override {
#ifndef KIVO_OFFICE_TEMPLATE
        GTEST_SKIP() << "built without the office";
#endif
        ASSERT_TRUE(QFileInfo(kBuiltTemplateFolder + QStringLiteral("/模板.xls")).isFile());
        ResetTestStateForTests();
        SetExcelDriverFactory(nullptr);
    }
    void TearDown() override { ProgramFolder::setForTests(QString()); }

    QTemporaryDir m_dir;
    ScriptedMessageBoxes boxes;
    ScriptedFileDialogs files;
};

TEST_F(OfficeReport, SavedReportHoldsEveryWrittenCellAsNumberOrTextAndGradesTheCharges) {
    ProgramFolder::setForTests(kBuiltTemplateFolder);
    g_nTestMinutes = 360;
    g_nRecordInterval = 5;
    g_nDiameter = 100;
    g_strVoltage = "60.0";
    g_strTester = QStringLiteral("张三");
    g_strOrganisation = QStringLiteral("某检测中心");
    const char* charges[] = {"1234.5(C)", "5000(C)", "50(C)", "2500(C)", "200(C)", ""};
    for (int i = 0; i < CHANNELS_IN_USE; ++i) {
        g_strSpecimenNo[i] = QStringLiteral("0%1").arg(i + 1);  // looks like a number
    }
    Testclass form;
    form.OnInitialUpdate();
    boxes.clear();  // no instrument is attached: the port message is not under test
    for (int row = 0; row < 3; ++row) {
        for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
            QTableWidget* list = form.m_listHistory[slot];
            list->insertRow(row);
            list->setItem(row, 1, new QTableWidgetItem(QString::number(row + 1)));
            list->setItem(row, 2, new QTableWidgetItem(QStringLiteral("%1.5(mA)").arg(row)));
            list->setItem(row, 3,
                          new QTableWidgetItem(row == 2 ? QString(charges[slot])
                                                        : QStringLiteral("%1(C)").arg(row)));
            g_strLastCharge[slot] = charges[slot];
        }
        g_nLastRecord = static_cast<uint32_t>(row);
    }
    const QString target = m_dir.path() + "/report.xls";
    files.answer({target});

    QElapsedTimer timer;
    timer.start();
    form.OnSaveExcel();
    std::printf("report through the office: %lld ms\n", static_cast<long long>(timer.elapsed()));
    ASSERT_EQ(boxes.count(), 0) << boxes.texts().join("\n").toStdString();
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"report.xls"});

    const QJsonObject book = ReadXls(target);
    const QString report = QStringLiteral("混凝土氯离子电通量试验报告");
    EXPECT_EQ(book["sheets"].toArray().size(), 8);

    // Every write of the report is in the file: a plain decimal number as a number (so that a
    // sum over it counts), any other text as text; an empty text leaves the cell empty.
    const QRegularExpression plainNumber(QStringLiteral("^[+-]?[0-9]+(\\.[0-9]+)?$"));
    int numbers = 0;
    QString sheet;
    int written = 0;
    for (const ReportStep& step : BuildReportPlan(TakeReportSnapshot(form))) {
        if (step.kind == ReportStep::Kind::SelectSheet) sheet = step.sheet;
        if (step.kind != ReportStep::Kind::SetCell) continue;
        const QString name = CellName(step.row, step.column);
        const Cell cell = At(book, sheet, name);
        if (step.text.isEmpty()) {
            // Empty, or blank with the template's formatting.
            EXPECT_TRUE(cell.type == 0 || cell.type == 6)
                << sheet.toStdString() << " " << name.toStdString();
        } else if (plainNumber.match(step.text).hasMatch()) {
            EXPECT_EQ(cell.type, 2) << sheet.toStdString() << " " << name.toStdString();
            EXPECT_EQ(cell.value.toDouble(), step.text.toDouble())
                << sheet.toStdString() << " " << name.toStdString();
            ++numbers;
        } else {
            EXPECT_EQ(cell.type, 1) << sheet.toStdString() << " " << name.toStdString();
            EXPECT_EQ(cell.value.toString(), step.text)
                << sheet.toStdString() << " " << name.toStdString();
        }
        ++written;
    }
    EXPECT_EQ(written, 6 * 9 + 15 + 26);
    EXPECT_GE(numbers, 6 * 3 + 6);  // the record numbers and the specimen numbers at least
    EXPECT_EQ(At(book, QStringLiteral("通道6"), "C4").value.toString(), "");
    EXPECT_EQ(At(book, QStringLiteral("通道1"), "B4").type, 1);
    EXPECT_EQ(At(book, QStringLiteral("通道1"), "B4").value.toString(), "2.5(mA)");
    EXPECT_EQ(At(book, QStringLiteral("通道1"), "A4").type, 2);  // record number 3
    EXPECT_EQ(At(book, QStringLiteral("通道1"), "A4").value.toDouble(), 3.0);
    EXPECT_EQ(At(book, QStringLiteral("通道1"), "A1").value.toString(), QStringLiteral("保存次数"));
    EXPECT_EQ(At(book, report, "D10").type, 2);
    EXPECT_EQ(At(book, report, "D10").value.toDouble(), 2094.83);
    EXPECT_EQ(At(book, report, "B7").type, 2);  // specimen number "01"
    EXPECT_EQ(At(book, report, "B7").value.toDouble(), 1.0);
    EXPECT_EQ(At(book, QStringLiteral("试验信息"), "B2").type, 2);

    // The template's formulas, computed by the office when it stored the workbook: the
    // charge adjusted to 95 mm (x 0.9025 at 100 mm) in whole coulombs and the penetrability
    // class.
    struct Graded {
        const char* row;
        double adjusted;  // < 0: no number
        const char* grade;
    };
    const Graded graded[] = {
        {"7", 1114, "低"},  {"8", 4513, "高"},   {"9", 45, "可忽略"}, {"10", 1891, "低"},
        {"12", 2256, "中"}, {"13", 181, "很低"}, {"14", -1, ""},      {"15", 812, "很低"},
        {"17", -1, ""},     {"20", -1, ""},
    };
    for (const Graded& g : graded) {
        const Cell e = At(book, report, QStringLiteral("E") + g.row);
        const Cell f = At(book, report, QStringLiteral("F") + g.row);
        if (g.adjusted < 0) {
            EXPECT_EQ(e.value.toString(), "") << g.row;
        } else {
            EXPECT_EQ(e.type, 2) << g.row;
            EXPECT_EQ(e.value.toDouble(), g.adjusted) << g.row;
        }
        EXPECT_EQ(f.value.toString(), QString::fromUtf8(g.grade)) << g.row;
    }

    // Width 15 on every column of the report sheet, whose template columns differ, in
    // characters of the file's standard font (1/256 of one), whatever face the office
    // measured; the other sheets keep the template's widths.
    const QJsonArray widths = book["widths"].toObject()[report].toArray();
    ASSERT_EQ(widths.size(), 6);
    for (const QJsonValue w : widths) EXPECT_NEAR(w.toInt(), 15 * 256, 2);
    // (The office's own round trip of a width may move it by a unit.)
    const QJsonObject templ = ReadXls(kBuiltTemplateFolder + QStringLiteral("/模板.xls"));
    const QJsonArray kept = book["widths"].toObject()[QStringLiteral("通道1")].toArray();
    const QJsonArray templWidths = templ["widths"].toObject()[QStringLiteral("通道1")].toArray();
    ASSERT_EQ(kept.size(), templWidths.size());
    for (int c = 0; c < kept.size(); ++c)
        EXPECT_NEAR(kept[c].toInt(), templWidths[c].toInt(), 2) << c;
}

TEST_F(OfficeReport, ClassBoundariesAndTextThatLooksLikeAFormula) {
    std::unique_ptr<ExcelDriver> driver = CreateExcelDriver();
    ASSERT_TRUE(driver->start()) << driver->lastError().toStdString();
    ASSERT_TRUE(driver->openTemplate(kBuiltTemplateFolder + QStringLiteral("/模板.xls")));
    ASSERT_TRUE(driver->selectSheet(QStringLiteral("通道1")));
    EXPECT_TRUE(driver->setCell(2, 1, "=1+1"));
    EXPECT_TRUE(driver->setCell(2, 2, "0012"));
    EXPECT_TRUE(driver->setCell(2, 3, "first"));
    EXPECT_TRUE(driver->setCell(2, 3, "second"));  // the last write of a cell counts
    ASSERT_TRUE(driver->selectSheet(QStringLiteral("混凝土氯离子电通量试验报告")));
    EXPECT_TRUE(driver->setCell(4, 4, "95"));  // no adjustment at 95 mm
    const char* rows[] = {"4000.5(C)", "4000(C)", "2000(C)", "1999.4(C)", "1000",
                          "100",       "99.4",    "abc",     "0",         "0.00"};
    const int at[] = {7, 8, 9, 10, 12, 13, 14, 15, 17, 20};
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(driver->setCell(at[i], 4, rows[i]));
    const QString target = m_dir.path() + "/grades.xls";
    ASSERT_TRUE(driver->saveAs(target)) << driver->lastError().toStdString();
    EXPECT_FALSE(driver->selectSheet(QStringLiteral("通道9")));
    EXPECT_TRUE(driver->lastError().contains(QStringLiteral("通道9")));
    EXPECT_TRUE(ProcessWithArgumentRuns(OurOfficesPipe()));
    driver->end();
    EXPECT_FALSE(ProcessWithArgumentRuns(OurOfficesPipe()));  // the office has exited

    const QJsonObject book = ReadXls(target);
    const QString report = QStringLiteral("混凝土氯离子电通量试验报告");
    const char* grades[] = {"高", "中", "中", "低", "低", "很低", "可忽略", "", "可忽略", "可忽略"};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(At(book, report, QStringLiteral("F%1").arg(at[i])).value.toString(),
                  QString::fromUtf8(grades[i]))
            << rows[i];
    }
    EXPECT_EQ(At(book, report, "E7").value.toDouble(), 4001);
    EXPECT_EQ(At(book, report, "E15").value.toString(), "");
    const QString channel = QStringLiteral("通道1");
    EXPECT_EQ(At(book, channel, "A2").type, 1);
    EXPECT_EQ(At(book, channel, "A2").value.toString(), "=1+1");
    EXPECT_EQ(At(book, channel, "B2").type, 2);  // a plain number, as a spreadsheet takes it
    EXPECT_EQ(At(book, channel, "B2").value.toDouble(), 12.0);
    EXPECT_EQ(At(book, report, "D4").type, 2);
    EXPECT_EQ(At(book, report, "D12").type, 2);
    EXPECT_EQ(At(book, report, "D7").type, 1);
    EXPECT_EQ(At(book, channel, "C2").value.toString(), "second");
}

TEST_F(OfficeReport, TemplateHasTheSheetsAndTheLabelsBesideEveryFilledCell) {
    const QJsonObject book = ReadXls(kBuiltTemplateFolder + QStringLiteral("/模板.xls"));
    QStringList sheets;
    for (const QJsonValue v : book["sheets"].toArray()) sheets << v.toString();
    EXPECT_EQ(sheets, QStringList({"混凝土氯离子电通量试验报告", "试验信息", "通道1", "通道2",
                                   "通道3", "通道4", "通道5", "通道6"}));
    for (int k = 1; k <= 6; ++k) {
        const QString s = QStringLiteral("通道%1").arg(k);
        EXPECT_EQ(At(book, s, "A1").value.toString(), QStringLiteral("保存次数"));
        EXPECT_EQ(At(book, s, "B1").value.toString(), QStringLiteral("电流(mA)"));
        EXPECT_EQ(At(book, s, "C1").value.toString(), QStringLiteral("电通量(C)"));
        EXPECT_EQ(At(book, s, "A2").type, 0);
    }
    const QString info = QStringLiteral("试验信息");
    EXPECT_EQ(At(book, info, "A2").value.toString(), QStringLiteral("试验时间(min)"));
    EXPECT_EQ(At(book, info, "A7").value.toString(), QStringLiteral("试验电压(V)"));
    EXPECT_EQ(At(book, info, "A16").value.toString(), QStringLiteral("试件9编号"));
    const QString report = QStringLiteral("混凝土氯离子电通量试验报告");
    const std::pair<const char*, const char*> labels[] = {
        {"A1", "混凝土氯离子电通量试验报告"},
        {"A2", "测试单位"},
        {"A4", "试验电压(V)"},
        {"C4", "试件直径(mm)"},
        {"A5", "试验时间(min)"},
        {"C5", "测试人员"},
        {"A7", "试件编号"},
        {"C7", "电通量(C)"},
        {"A10", "平均值(C)"},
        {"A19", "试件编号"},
        {"C19", "电通量(C)"},
        {"A20", "平均值(C)"},
        {"E6", "换算电通量(C)"},
        {"F16", "渗透性等级"},
    };
    for (const auto& [cell, label] : labels) {
        EXPECT_EQ(At(book, report, cell).value.toString(), QString::fromUtf8(label)) << cell;
    }
    // The standard diameter beside the formulas is a number, not a text that looks like one.
    EXPECT_EQ(At(book, report, "F4").type, 2);
    EXPECT_EQ(At(book, report, "F4").value.toDouble(), 95.0);
}

TEST_F(OfficeReport, OfficeThatIsMissingFailsToStart) {
    OfficeLaunchOptions options;
    options.program = m_dir.path() + "/no-office/soffice";
    std::unique_ptr<ExcelDriver> driver = CreateExcelDriver(options);
    EXPECT_FALSE(driver->start());
    EXPECT_TRUE(driver->lastError().contains(options.program));
    EXPECT_FALSE(driver->openTemplate(kBuiltTemplateFolder + QStringLiteral("/模板.xls")));
    EXPECT_TRUE(driver->end());
}

// A stand-in office: a script that runs `body` in its own shell.
QString FakeOffice(const QString& folder, const QByteArray& body) {
    const QString path = folder + "/soffice";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("#!/bin/sh\n" + body + "\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

TEST_F(OfficeReport, OfficeThatDiesDuringTheExportFailsTheNextOperationAndEnds) {
    std::unique_ptr<ExcelDriver> driver = CreateExcelDriver();
    ASSERT_TRUE(driver->start()) << driver->lastError().toStdString();
    ASSERT_TRUE(driver->openTemplate(kBuiltTemplateFolder + QStringLiteral("/模板.xls")));
    ASSERT_TRUE(driver->selectSheet(QStringLiteral("通道1")));
    QString profile;
    int killed = 0;
    for (const auto& [pid, line] : ProcessesWithArgument(OurOfficesPipe())) {
        if (!line.split('\0').first().endsWith("soffice.bin")) continue;
        for (const QByteArray& a : line.split('\0')) {
            if (a.startsWith("-env:UserInstallation=file://"))
                profile = QString::fromUtf8(a.mid(29));
        }
        kill(pid, SIGKILL);
        ++killed;
    }
    ASSERT_EQ(killed, 1);
    // The socket where offices of one profile meet, named after the MD5 of the profile's URL.
    QByteArray url;
    for (QChar c : "file://" + profile) {
        url.append(static_cast<char>(c.unicode() & 0xFF))
            .append(static_cast<char>(c.unicode() >> 8));
    }
    QString digest;
    for (unsigned char b : QCryptographicHash::hash(url, QCryptographicHash::Md5)) {
        digest += QString::number(b, 16);
    }
    const QString ipcSocket =
        QStringLiteral("/tmp/OSL_PIPE_%1_SingleOfficeIPC_%2").arg(getuid()).arg(digest);
    ASSERT_TRUE(QFileInfo::exists(ipcSocket));
    EXPECT_TRUE(QFileInfo(profile).isDir()) << profile.toStdString();

    EXPECT_TRUE(driver->setCell(2, 1, "1"));  // collected, not yet sent
    EXPECT_FALSE(driver->saveAs(m_dir.path() + "/lost.xls"));
    EXPECT_FALSE(driver->lastError().isEmpty());
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(driver->end());
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_FALSE(ProcessWithArgumentRuns(OurOfficesPipe()));
    EXPECT_FALSE(QFileInfo::exists(profile));  // its private profile is removed
    // and so are the sockets of its pipes
    EXPECT_TRUE(QDir("/tmp")
                    .entryList({QStringLiteral("OSL_PIPE_*_kivo%1x*").arg(getpid())}, QDir::System)
                    .isEmpty());
    EXPECT_FALSE(QFileInfo::exists(ipcSocket));
    EXPECT_FALSE(QFileInfo::exists(m_dir.path() + "/lost.xls"));
}

TEST_F(OfficeReport, OfficeThatNeverAnswersIsStoppedAfterTheTimeLimit) {
    // The fake office's argument is this test process's own: another run of the suite on the
    // machine has a sleeping office of its own.
    const QString sleeping = QStringLiteral("987.%1").arg(getpid());
    OfficeLaunchOptions options;
    options.program =
        FakeOffice(m_dir.path(), QStringLiteral("sleep %1; exit 0").arg(sleeping).toUtf8());
    options.startTimeoutMs = 1500;
    std::unique_ptr<ExcelDriver> driver = CreateExcelDriver(options);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(driver->start());
    EXPECT_LT(timer.elapsed(), 60000);  // the time limit, not the office's 987 s
    EXPECT_TRUE(driver->lastError().contains(QStringLiteral("没有响应")))
        << driver->lastError().toStdString();
    EXPECT_FALSE(ProcessWithArgumentRuns(sleeping));  // the whole process group is gone
}

TEST_F(OfficeReport, OfficeThatQuitsAtOnceFailsToStart) {
    OfficeLaunchOptions options;
    options.program = FakeOffice(m_dir.path(), "exit 3");
    std::unique_ptr<ExcelDriver> driver = CreateExcelDriver(options);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(driver->start());
    EXPECT_LT(timer.elapsed(), 25000);  // at once, not after the start's 30 s time limit
    EXPECT_TRUE(driver->lastError().contains("3")) << driver->lastError().toStdString();
}

TEST(NoOfficeBuild, DriverCannotStartAndSaysWhy) {
#ifdef KIVO_OFFICE_TEMPLATE
    GTEST_SKIP() << "built with the office";
#else
    std::unique_ptr<ExcelDriver> driver = CreateExcelDriver();
    EXPECT_FALSE(driver->start());
    EXPECT_FALSE(driver->lastError().isEmpty());
    EXPECT_TRUE(driver->end());
#endif
}

}  // namespace
