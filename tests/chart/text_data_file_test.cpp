#include "export/text_data_file.h"

#include <sys/resource.h>

#include <QDate>
#include <csignal>

#include "export/file_replace.h"
#include "export_fixture.h"

namespace {

QByteArray repeat(const QByteArray& piece, int times) {
    QByteArray out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

class TextDataFileTest : public ExportTest {
  protected:
    QByteArray save(const QString& name = QStringLiteral("run.bln")) {
        dialogs.answer({path(name)});
        form->OnSaveText();
        return readAll(path(name));
    }

    static void writeFile(const QString& file, const QByteArray& bytes) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
};

TEST_F(TextDataFileTest, BeforeTheFirstRecord) {
    EXPECT_EQ(save(), "2010-5-7+lab+tester+5+100+oooooo\r\n" + repeat("++:", 6) + "\r\n");
    ASSERT_EQ(dialogs.requests().size(), 1u);
    const FileDialog::SaveRequest request = dialogs.requests().front();
    EXPECT_EQ(request.filter, "*.bln");
    EXPECT_EQ(request.defaultSuffix, "bln");
    EXPECT_TRUE(request.confirmOverwrite);
    const QDate today = QDate::currentDate();
    EXPECT_EQ(request.proposedName,
              QString("%1-%2-%3").arg(today.year()).arg(today.month()).arg(today.day()));
    EXPECT_EQ(ProposedExportName(QDate(2010, 5, 7)), "2010-5-7");
    EXPECT_EQ(boxes.count(), 0);
}

TEST_F(TextDataFileTest, OneLinePerRecordWithAChannelOff) {
    g_bChannelOff[1] = 1;
    g_nRecordInterval = 10;
    g_nDiameter = 95;
    record({"1.5(mA)", "-", "3(mA)", "", "5(mA)", "6(mA)"});
    record({"11(mA)", "-", "13(mA)", "", "15(mA)", "16(mA)"});
    record({"21(mA)", "-", "23(mA)", "", "25(mA)", "26(mA)"});
    const QByteArray expected =
        "2010-5-7+lab+tester+10+95+onoooo\r\n"
        "1+1.5(mA)+0.5(C):++:1+3(mA)+0.5(C):1++0.5(C):1+5(mA)+0.5(C):1+6(mA)+0.5(C):\r\n"
        "2+11(mA)+10.5(C):++:2+13(mA)+10.5(C):2++10.5(C):2+15(mA)+10.5(C):2+16(mA)+10.5(C):\r\n"
        "3+21(mA)+20.5(C):++:3+23(mA)+20.5(C):3++20.5(C):3+25(mA)+20.5(C):3+26(mA)+20.5(C):\r\n";
    EXPECT_EQ(save().toStdString(), expected.toStdString());
}

TEST_F(TextDataFileTest, BuilderFillsRowsAChannelLacks) {
    TextDataSnapshot s;
    s.testDate = QStringLiteral("2024-12-31");
    s.recordInterval = 1;
    s.diameter = 100;
    s.channelOff = {0, 0, 0, 0, 0, 1};
    s.lastRecord = 1;
    s.history[0] = {{"1", "7(mA)", "0(C)"}, {"2", "8(mA)", "1(C)"}};
    s.history[3] = {{"1", "9(mA)", "0(C)"}};
    const TextDataFile file = BuildTextDataFile(s);
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(file.bytes.toStdString(),
              "2024-12-31+++1+100+ooooon\r\n"
              "1+7(mA)+0(C):++:++:1+9(mA)+0(C):++:++:\r\n"
              "2+8(mA)+1(C):++:++:++:++:++:\r\n");
}

TEST_F(TextDataFileTest, TextsAreWrittenUnchangedInGbk) {
    g_strOrganisation = QStringLiteral("a+b:c");
    g_strTester = QStringLiteral("张三");
    const QByteArray bytes = save();
    EXPECT_TRUE(bytes.startsWith("2010-5-7+a+b:c+\xD5\xC5\xC8\xFD+5+100+oooooo\r\n"))
        << bytes.toHex().toStdString();
}

TEST_F(TextDataFileTest, TextGbkCannotHoldIsRefusedBeforeWriting) {
    writeFile(path("run.bln"), "earlier file");
    g_strTester = QStringLiteral("Ann \U0001F600");
    EXPECT_EQ(save(), "earlier file");
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_TRUE(boxes.texts().first().contains(QStringLiteral("测试人员")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

TEST_F(TextDataFileTest, ReplacingAFileLeavesNothingOfTheOld) {
    writeFile(path("run.bln"), repeat("old content that is much longer than the new file\r\n", 40));
    const QByteArray bytes = save();
    EXPECT_EQ(bytes, "2010-5-7+lab+tester+5+100+oooooo\r\n" + repeat("++:", 6) + "\r\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    dialogs.answer({QString()});  // cancel: nothing happens
    form->OnSaveText();
    EXPECT_EQ(readAll(path("run.bln")), bytes);
    EXPECT_EQ(boxes.count(), 0);
}

TEST_F(TextDataFileTest, UnwritableFolderKeepsTheOldFileAndNamesIt) {
    writeFile(path("run.bln"), "earlier file");
    if (!makeFolderUnwritable(dir.path())) GTEST_SKIP() << "no way to make a folder unwritable";
    record({"1(mA)", "2(mA)", "3(mA)", "4(mA)", "5(mA)", "6(mA)"});
    const QByteArray bytes = save();
    makeFolderWritable(dir.path());
    EXPECT_EQ(bytes, "earlier file");
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_TRUE(boxes.texts().first().contains(path("run.bln")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(TextDataFileTest, FullDiskKeepsTheOldFile) {
    writeFile(path("run.bln"), "earlier file");
    for (int i = 0; i < 200; ++i)
        record({"100(mA)", "200(mA)", "300(mA)", "400(mA)", "500(mA)", "600(mA)"});
    // A file size limit makes the write fail the way a full disk does.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    dialogs.answer({path("run.bln")});
    form->OnSaveText();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(readAll(path("run.bln")), "earlier file");
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_TRUE(boxes.texts().first().contains(path("run.bln")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

}  // namespace
