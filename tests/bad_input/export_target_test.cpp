// Exports into a folder that refuses them (read-only, or a full disk), and exports of a test
// whose tester's name is 10 000 characters long. A failed export names the file, leaves
// no part of itself behind and keeps an older file of the same name as it was.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <functional>

#include "bad_input/bad_input_cases.h"
#include "chart/export_fixture.h"
#include "export/chart_bitmap.h"
#include "export/excel_report.h"
#include "monitor/form_ids.h"
#include "platform/gbk_codec.h"
#include "platform/program_folder.h"
#include "report/recording_excel_driver.h"

namespace {

// One way the test form saves its data: what the save dialog is answered, the files that
// come of it, and how it is started.
struct ExportSite {
    const char* name;
    QString chosen;     // relative to the export folder
    QStringList files;  // relative to the export folder
    void (Testclass::*save)();
};

QStringList BitmapNames() {
    QStringList names;
    for (int channel = 1; channel <= CHART_EXPORT_CHANNELS; ++channel)
        names << ChartBitmapPath(QStringLiteral("old"), channel);
    return names;
}

const ExportSite kSites[] = {
    {"text data file", "old.bln", {"old.bln"}, &Testclass::OnSaveText},
    {"chart bitmaps", "old.BMP", BitmapNames(), &Testclass::OnSaveChart},
    {"spreadsheet report", "old.xls", {"old.xls"}, &Testclass::OnSaveExcel},
};

class ExportTargetInput : public ExportTest {
  protected:
    void SetUp() override {
        ExportTest::SetUp();
        ASSERT_TRUE(m_program.isValid());
        ProgramFolder::setForTests(m_program.path());
        QFile templ(m_program.filePath(kReportTemplateName));
        ASSERT_TRUE(templ.open(QIODevice::WriteOnly));
        templ.write("template");
        templ.close();
        SetExcelDriverFactory(
            [log = m_log] { return std::make_unique<RecordingExcelDriver>(log); });
        record({"1.0(mA)", "2.0(mA)", "3.0(mA)", "4.0(mA)", "5.0(mA)", "6.0(mA)"});
        record({"1.5(mA)", "2.5(mA)", "3.5(mA)", "4.5(mA)", "5.5(mA)", "6.5(mA)"});
        m_folder = path("out");
        ASSERT_TRUE(QDir().mkpath(m_folder));
    }
    void TearDown() override {
        for (const QString& file : m_immutable) SetImmutable(file, false);
        if (m_unwritable) makeFolderWritable(m_folder);
        if (m_mounted) BadInput::Unmount(m_folder);
        SetExcelDriverFactory(nullptr);
        ProgramFolder::setForTests(QString());
    }

    // An older export of every site in the folder.
    void writeOlderFiles() {
        for (const ExportSite& site : kSites) {
            QFile f(QDir(m_folder).filePath(site.files.first()));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(QByteArray("older ") + site.name);
        }
    }

    // Runs every site into the folder as it now is and checks the refusal.
    void expectEverySiteRefused(const QString& reason) {
        QDir folder(m_folder);
        const QStringList before = folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System);
        for (const ExportSite& site : kSites) {
            boxes.clear();
            dialogs.answer({folder.filePath(site.chosen)});
            (form.get()->*site.save)();
            ASSERT_EQ(boxes.count(), 1) << site.name;
            const QString text = boxes.texts()[0];
            for (const QString& file : site.files)
                EXPECT_TRUE(text.contains(folder.filePath(file)))
                    << site.name << " does not name " << file.toStdString() << ": "
                    << text.toStdString();
            EXPECT_TRUE(text.contains(reason)) << site.name << ": " << text.toStdString();
            EXPECT_EQ(readAll(folder.filePath(site.files.first())),
                      QByteArray("older ") + site.name);
            EXPECT_EQ(folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System), before)
                << site.name;
        }
    }

    // Sets or clears the file's immutable attribute (chattr +i); false where that cannot be.
    static bool SetImmutable(const QString& file, bool on) {
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY);
        if (fd < 0) return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return ok;
    }

    // Runs every site against its protected older file: one box naming the file and
    // `cause`, the file as it was, no temporary file left, the office not started.
    void expectEverySiteKeepsItsProtectedFile(const QString& cause) {
        QDir folder(m_folder);
        for (const ExportSite& site : kSites) {
            boxes.clear();
            const QString kept = folder.filePath(site.files.first());
            const QStringList before =
                folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System);
            dialogs.answer({folder.filePath(site.chosen)});
            (form.get()->*site.save)();
            ASSERT_EQ(boxes.count(), 1)
                << site.name << ": " << boxes.texts().join("|").toStdString();
            const QString text = boxes.texts()[0];
            EXPECT_TRUE(text.contains(kept)) << site.name << ": " << text.toStdString();
            EXPECT_TRUE(text.contains(cause)) << site.name << ": " << text.toStdString();
            EXPECT_FALSE(text.contains(QStringLiteral("磁盘可能已满"))) << site.name;
            EXPECT_EQ(readAll(kept), QByteArray("older ") + site.name);
            // Of the bitmaps only the protected one is missing; nothing else is left behind.
            QStringList after = folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System);
            for (const QString& file : site.files.mid(1)) after.removeOne(file);
            EXPECT_EQ(after, before) << site.name;
        }
        EXPECT_TRUE(m_log->ops.filter("start").isEmpty());
    }

    QStringList m_immutable;
    QTemporaryDir m_program;
    std::shared_ptr<DriverLog> m_log = std::make_shared<DriverLog>();
    QString m_folder;
    bool m_unwritable = false;
    bool m_mounted = false;
};

TEST_F(ExportTargetInput, AReadOnlyFolderRefusesEveryExportAndKeepsTheOlderFiles) {
    writeOlderFiles();
    m_unwritable = true;
    if (!makeFolderUnwritable(m_folder)) GTEST_SKIP() << "no way to make a folder read-only here";
    expectEverySiteRefused(QStringLiteral("没有"));
    EXPECT_TRUE(m_log->ops.filter("start").isEmpty());  // the office was not even started
}

TEST_F(ExportTargetInput, AFullDiskRefusesEveryExportAndKeepsTheOlderFiles) {
    if (!BadInput::MountTinyDisk(m_folder)) GTEST_SKIP() << "no small disk to fill here";
    m_mounted = true;
    writeOlderFiles();
    ASSERT_TRUE(BadInput::FillDisk(m_folder));
    expectEverySiteRefused(QStringLiteral("没有"));
}

TEST_F(ExportTargetInput, AReadOnlyFileIsNamedAsTheCauseAndKeptByEveryExport) {
    writeOlderFiles();
    for (const ExportSite& site : kSites) {
        const QString file = QDir(m_folder).filePath(site.files.first());
        ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0444), 0);
    }
    expectEverySiteKeepsItsProtectedFile(QStringLiteral("只读"));
    for (const ExportSite& site : kSites) {
        struct stat st {};
        const QByteArray name = QFile::encodeName(QDir(m_folder).filePath(site.files.first()));
        ASSERT_EQ(::stat(name.constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0444u) << site.name;
    }
}

TEST_F(ExportTargetInput, AnImmutableFileIsNamedAsTheCauseAndKeptByEveryExport) {
    writeOlderFiles();
    for (const ExportSite& site : kSites) {
        const QString file = QDir(m_folder).filePath(site.files.first());
        if (!SetImmutable(file, true)) GTEST_SKIP() << "no immutable files here";
        m_immutable << file;
    }
    expectEverySiteKeepsItsProtectedFile(QStringLiteral("不可更改"));
}

TEST_F(ExportTargetInput, A10000CharacterTesterFitsTheFormAndReachesEveryExport) {
    const QString tester = BadInput::Huge();
    QWidget* field = form->item(FormId::Tester);
    const QRect fieldRect = field->geometry();
    const QSize formSize = form->size();
    g_strTester = tester;
    form->setItemTextOnGui(FormId::Tester, g_strTester);
    EXPECT_EQ(form->itemTextOnGui(FormId::Tester), tester);
    EXPECT_EQ(field->geometry(), fieldRect);
    EXPECT_EQ(form->size(), formSize);

    dialogs.answer({path("long.bln"), path("long.xls")});
    form->OnSaveText();
    form->OnSaveExcel();
    EXPECT_EQ(boxes.count(), 0) << boxes.texts().join("|").toStdString();
    const QByteArray text = readAll(path("long.bln"));
    const QByteArray header = text.left(text.indexOf("\r\n"));
    EXPECT_EQ(header.split('+').value(2), *gbk::encode(tester));
    EXPECT_EQ(text.count("\r\n"), 3);  // the header and two records
    EXPECT_TRUE(m_log->ops.contains("cell B6 " + tester));
    EXPECT_TRUE(m_log->ops.contains("cell D5 " + tester));
}

}  // namespace
