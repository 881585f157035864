// The program on an archive it cannot use: in a read-only folder, on a disk that fills up
// mid-test, a file that is not a database, an archive another program keeps busy. Each says so
// once, naming the file and the cause, and the test runs to its end against the virtual
// instrument with its exports as usual. Once the archive takes writes again, the whole test is
// in it and the operator is told. A damaged file is kept aside, never overwritten.

#include <unistd.h>

#include <QRegularExpression>

#include "archive/archive_fixture.h"
#include "archive/archive_open.h"
#include "archive/sqlite_handle.h"
#include "bad_input/bad_input_cases.h"
#include "e2e/operator_fixture.h"
#include "run/archive_session.h"

namespace {

using ArchiveTesting::ChildProcess;
using ArchiveTesting::RunProgram;

const QString kConsequence = QStringLiteral("本次实验照常进行");

class ArchiveFile : public OperatorRun {
  protected:
    void SetUp() override {
        OperatorRun::SetUp();
        m_formerArchive = qgetenv("KIVO_ARCHIVE");
    }
    void TearDown() override {
        OperatorRun::TearDown();  // the program ends first: nothing holds the files below
        if (!m_immutable.isEmpty()) RunProgram("chattr", {"-i", m_immutable});
        if (!m_mounted.isEmpty()) BadInput::Unmount(m_mounted);
        qputenv("KIVO_ARCHIVE", m_formerArchive);
    }

    // A test of two minutes through the windows, with the archive at `file`: the pictures
    // saved at the end, the text data after it. `midTest` runs once the first record has been
    // taken. Returns every message other than the two questions at the end.
    QStringList runTest(const QString& file, const std::function<void()>& midTest = {}) {
        qputenv("KIVO_ARCHIVE", file.toLocal8Bit());
        startBench(30);
        if (HasFatalFailure()) return {};
        EXPECT_EQ(openTestWindow(2, QStringLiteral("陈刚"), QStringLiteral("质检站")),
                  (QStringList{"CLoginDlg", "CParamDlg"}));
        if (form() == nullptr) return {};
        initialise();
        m_files.answer({m_dir.filePath(QStringLiteral("图.bmp")), QString()});
        click(FormId::StartButton);
        EXPECT_TRUE(PumpUntil([&] { return form()->historyRowCount(0) >= 1; }, 20000));
        if (midTest) midTest();
        EXPECT_TRUE(PumpUntil(
            [&] {
                LinkThreads::joinFinished();
                return m_boxes.texts().contains("请确认是否保存数据！") &&
                       LinkThreads::count() == 0;
            },
            30000))
            << m_boxes.texts().join(' ').toStdString();
        EXPECT_EQ(field(FormId::RemainingMinutes), "完成");
        m_rows = form()->historyRowCount(0);
        EXPECT_GE(m_rows, 3);

        // The exports hold the window's records.
        const QString data = m_dir.filePath(QStringLiteral("数据.bln"));
        m_files.answer({data});
        click(FormId::SaveText);
        const QStringList lines = readTextData(data);
        EXPECT_EQ(lines.size(), m_rows + 1);
        const QStringList first = historyRows(0);
        for (int r = 0; r < m_rows && r + 1 < lines.size(); ++r)
            EXPECT_TRUE(lines[r + 1].startsWith(first[r] + ":")) << r;
        for (int channel = 1; channel <= 9; ++channel)
            EXPECT_TRUE(QFile::exists(m_dir.filePath(QStringLiteral("图通道%1.bmp").arg(channel))))
                << channel;
        // Records the archive still lacks are offered for export before the window goes.
        const auto writer = ArchiveSession::writer();
        if (writer && writer->failed()) m_boxes.press({QStringLiteral("仍然关闭")});
        closeProgram();

        QStringList messages;
        for (const QString& text : m_boxes.texts()) {
            if (text.contains(QStringLiteral("关闭实验窗口后"))) {
                m_exportQuestion = text;
                continue;
            }
            if (!text.startsWith(QStringLiteral("请确认是否保存"))) messages << text;
        }
        return messages;
    }

    // The tests of the archive at `file`.
    static std::vector<archive::TestSummary> ArchivedTests(const QString& file) {
        QString message;
        const auto reader = archive::ArchiveReader::open(file, &message);
        EXPECT_TRUE(reader) << message.toStdString();
        return reader ? reader->listTests() : std::vector<archive::TestSummary>{};
    }
    // The records of the one test of the archive at `file`.
    static int ArchivedRecords(const QString& file) {
        const std::vector<archive::TestSummary> tests = ArchivedTests(file);
        EXPECT_EQ(tests.size(), 1u);
        return tests.empty() ? -1 : tests.front().recordCount;
    }

    QByteArray m_formerArchive;
    QString m_immutable, m_mounted;
    int m_rows = 0;
    QString m_exportQuestion;  // asked as the window closed, when it was
};

TEST_F(ArchiveFile, AReadOnlyFolderIsNamedOnceAndTheTestRunsWithoutTheArchive) {
    const QString folder = m_dir.filePath(QStringLiteral("只读"));
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    if (::access(QFile::encodeName(folder).constData(), W_OK) == 0) {
        // Root writes through any mode: the folder is made immutable instead.
        if (RunProgram("chattr", {"+i", folder}) != 0)
            GTEST_SKIP() << "no way to make a folder read-only here";
        m_immutable = folder;
    }
    const QString file = QDir(folder).filePath(QStringLiteral("kivo.sqlite"));
    const QStringList messages = runTest(file);
    ASSERT_EQ(messages.size(), 1) << messages.join('|').toStdString();
    EXPECT_TRUE(messages[0].contains(file)) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("没有写入权限"))) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(kConsequence));
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_TRUE(m_exportQuestion.contains(QStringLiteral("还有 %1 条记录没有存入档案").arg(m_rows)))
        << m_exportQuestion.toStdString();
    // The program ends: before it does, it says what could not be archived, every kind of it:
    // the records, the polls, and the audit events (their folder cannot be made either).
    m_app.reset();
    const QString last = m_boxes.texts().last();
    EXPECT_TRUE(last.startsWith(QStringLiteral("程序结束前仍有数据未能存入测试档案 ") + file))
        << last.toStdString();
    EXPECT_TRUE(last.contains(QRegularExpression(
        QStringLiteral("开始的实验有 %1 条记录、[1-9][0-9]* 次轮询数据；").arg(m_rows))))
        << last.toStdString();
    EXPECT_TRUE(
        last.contains(QRegularExpression(QStringLiteral("另有 [1-9][0-9]* 条操作审计记录。"))))
        << last.toStdString();
    EXPECT_TRUE(last.contains(QStringLiteral("这些记录只保存在已导出的文件")));
    EXPECT_TRUE(last.contains(QStringLiteral("轮询数据已无法保存。")));
    EXPECT_TRUE(
        last.contains(QRegularExpression(QStringLiteral("[1-9][0-9]* 条操作审计记录未能保存。"))))
        << last.toStdString();
}

TEST_F(ArchiveFile, ADiskThatFillsUpAndIsFreedMidTestGetsEveryRecordAndNoRecoveryQuestion) {
    const QString disk = m_dir.filePath(QStringLiteral("disk"));
    ASSERT_TRUE(QDir().mkpath(disk));
    if (::getuid() != 0 ||
        RunProgram("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", disk}) != 0)
        GTEST_SKIP() << "no small disk to fill here";
    m_mounted = disk;
    const QString file = QDir(disk).filePath(QStringLiteral("kivo.sqlite"));
    const QStringList messages = runTest(file, [&] {
        ASSERT_TRUE(ArchiveSession::writer()->flush(30000));
        ASSERT_TRUE(BadInput::FillDisk(disk));
        EXPECT_TRUE(
            PumpUntil([&] { return m_boxes.texts().join(' ').contains("磁盘已满"); }, 20000));
        QFile::remove(QDir(disk).filePath(QStringLiteral("filler")));
        EXPECT_TRUE(
            PumpUntil([&] { return m_boxes.texts().join(' ').contains("已恢复写入"); }, 20000));
    });
    ASSERT_EQ(messages.size(), 2) << messages.join('|').toStdString();
    EXPECT_TRUE(messages[0].contains(file)) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("磁盘已满"))) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(kConsequence));
    EXPECT_TRUE(messages[1].contains(QStringLiteral("测试档案已恢复写入：") + file))
        << messages[1].toStdString();
    m_app.reset();  // the program ends
    EXPECT_EQ(ArchivedRecords(file), m_rows);

    // The next start asks about no test: the one above ended well.
    startProgram(m_dir.filePath(QStringLiteral("com1")), 30);
    const int before = m_boxes.count();
    EXPECT_EQ(openTestWindow(2, QStringLiteral("陈刚"), QStringLiteral("质检站")),
              (QStringList{"CLoginDlg", "CParamDlg"}));
    EXPECT_EQ(m_boxes.count(), before) << m_boxes.texts().join('|').toStdString();
}

TEST_F(ArchiveFile, AFileThatIsNotADatabaseIsKeptAsideAndANewArchiveKeepsTheTest) {
    const QString file = m_dir.filePath(QStringLiteral("kivo.sqlite"));
    const QByteArray content = QByteArray("实验记录 不是数据库\r\n").repeated(500);
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    const QStringList messages = runTest(file);
    const QStringList aside =
        QDir(m_dir.path()).entryList({QStringLiteral("kivo.sqlite.damaged-*")}, QDir::Files);
    ASSERT_EQ(aside.size(), 1) << QDir(m_dir.path()).entryList().join(' ').toStdString();
    const QString asidePath = m_dir.filePath(aside[0]);
    EXPECT_EQ(ArchiveTesting::ReadFile(asidePath), content);
    ASSERT_EQ(messages.size(), 1) << messages.join('|').toStdString();
    EXPECT_TRUE(messages[0].contains(file)) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(asidePath)) << messages[0].toStdString();
    EXPECT_EQ(ArchivedRecords(file), m_rows);
}

TEST_F(ArchiveFile, AnArchiveAnotherProgramKeepsBusyIsNamedOnceAndGetsTheTestOnceLetGo) {
    const QString file = m_dir.filePath(QStringLiteral("kivo.sqlite"));
    ASSERT_TRUE(archive::OpenArchive(file).db);
    ChildProcess holder("ArchiveFileChild.HoldsTheArchive", "hold", {{"PATH", file}});
    ASSERT_TRUE(holder.waitForLine("held"));
    const QStringList messages = runTest(file, [&] {
        // The test's first write waits for the archive, then gives up on it for now.
        EXPECT_TRUE(PumpUntil([&] { return m_boxes.texts().join(' ').contains("占用"); },
                              3 * archive::kBusyTimeoutMs));
        holder.write("release\n");
        EXPECT_TRUE(
            PumpUntil([&] { return m_boxes.texts().join(' ').contains("已恢复写入"); }, 20000));
    });
    EXPECT_EQ(holder.wait(), 0);
    ASSERT_EQ(messages.size(), 2) << messages.join('|').toStdString();
    EXPECT_TRUE(messages[0].contains(file)) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("占用超过 4 秒"))) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(kConsequence));
    m_app.reset();
    EXPECT_EQ(ArchivedRecords(file), m_rows);
}

// The other program: an exclusive transaction on the archive until told to let go.
TEST(ArchiveFileChild, HoldsTheArchive) {
    if (ArchiveTesting::ChildRole() != "hold") GTEST_SKIP() << "run by ArchiveFile";
    archive::Connection db(ArchiveTesting::ChildParam("PATH"), SQLITE_OPEN_READWRITE);
    archive::ConfigureConnection(db, archive::kBusyTimeoutMs);
    db.exec("BEGIN EXCLUSIVE");
    ArchiveTesting::Report("held");
    char line[16];
    while (::read(0, line, sizeof line) < 0 && errno == EINTR) {
    }
    db.exec("COMMIT");
}

}  // namespace
