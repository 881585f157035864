// The report template as it may be found: not a workbook at all, or a workbook that lacks
// one of the report's sheets; and a report saved by the real office onto a full disk. Each
// ends in a message naming the file (and the sheet), with the older report kept and nothing
// half-written beside it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <random>

#include "bad_input/bad_input_cases.h"
#include "chart/export_fixture.h"
#include "export/excel_report.h"
#include "platform/program_folder.h"

namespace {

const QString kBuiltTemplate = QStringLiteral(KIVO_BINARY_DIR "/src/模板.xls");

class ReportTemplateInput : public ExportTest {
  protected:
    void SetUp() override {
#ifndef KIVO_OFFICE_TEMPLATE
        GTEST_SKIP() << "built without the office";
#endif
        ExportTest::SetUp();
        SetExcelDriverFactory(nullptr);
        record({"1.0(mA)", "2.0(mA)", "3.0(mA)", "4.0(mA)", "5.0(mA)", "6.0(mA)"});
        ASSERT_TRUE(QDir().mkpath(path("program")));
        ASSERT_TRUE(QDir().mkpath(path("out")));
        ProgramFolder::setForTests(path("program"));
    }
    void TearDown() override {
        if (m_mounted) BadInput::Unmount(path("out"));
        ProgramFolder::setForTests(QString());
    }

    QString templatePath() const { return path("program/") + kReportTemplateName; }

    // Saves the report over an older one in the export folder; returns the one message.
    QString saveOverOlderReport() {
        const QString target = path("out/report.xls");
        QFile older(target);
        EXPECT_TRUE(older.open(QIODevice::WriteOnly));
        older.write("older report");
        older.close();
        const QStringList before = QDir(path("out")).entryList(QDir::AllEntries | QDir::Hidden);
        dialogs.answer({target});
        form->OnSaveExcel();
        EXPECT_EQ(readAll(target), QByteArray("older report"));
        EXPECT_EQ(QDir(path("out")).entryList(QDir::AllEntries | QDir::Hidden), before);
        EXPECT_EQ(boxes.count(), 1);
        return boxes.texts().value(0);
    }

    bool m_mounted = false;
};

TEST_F(ReportTemplateInput, ATemplateOfRandomBytesIsNamedAsNoWorkbook) {
    std::mt19937 random(7);
    QByteArray noise;
    for (int i = 0; i < 16384; ++i) noise.append(static_cast<char>(random() & 0xFF));
    QFile templ(templatePath());
    ASSERT_TRUE(templ.open(QIODevice::WriteOnly));
    templ.write(noise);
    templ.close();

    const QString text = saveOverOlderReport();
    EXPECT_TRUE(text.contains(path("out/report.xls"))) << text.toStdString();
    EXPECT_TRUE(text.contains(templatePath())) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("模板"))) << text.toStdString();
}

TEST_F(ReportTemplateInput, ATemplateWithoutTheInformationSheetNamesTheSheet) {
#ifdef KIVO_BROKEN_TEMPLATE
    ASSERT_TRUE(QFile::copy(QStringLiteral(KIVO_BROKEN_TEMPLATE), templatePath()));
    const QString text = saveOverOlderReport();
    EXPECT_TRUE(text.contains(path("out/report.xls"))) << text.toStdString();
    EXPECT_TRUE(text.contains(templatePath())) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("“试验信息”"))) << text.toStdString();
#endif
}

TEST_F(ReportTemplateInput, TheOfficeSavingOntoAFullDiskKeepsTheOlderReport) {
    if (!BadInput::MountTinyDisk(path("out"))) GTEST_SKIP() << "no small disk to fill here";
    m_mounted = true;
    ASSERT_TRUE(QFile::copy(kBuiltTemplate, templatePath()));
    QFile older(path("out/report.xls"));
    ASSERT_TRUE(older.open(QIODevice::WriteOnly));
    older.write("older report");
    older.close();
    ASSERT_TRUE(BadInput::FillDisk(path("out")));

    const QString text = saveOverOlderReport();
    EXPECT_TRUE(text.contains(path("out/report.xls"))) << text.toStdString();
}

}  // namespace
