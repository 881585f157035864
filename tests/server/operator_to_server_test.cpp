// The program as an operator runs it, sending to a lab server that the test stops in the
// middle of the test and starts again.

#include <QCryptographicHash>
#include <QFile>

#include "e2e/operator_fixture.h"
#include "server_fixture.h"

namespace {

using namespace ServerTesting;

class OperatorToServer : public OperatorRun {
  protected:
    void SetUp() override {
        OperatorRun::SetUp();
        m_database = FreshDatabase();
        m_formerArchive = qgetenv("KIVO_ARCHIVE");
        qputenv("KIVO_ARCHIVE", archivePath().toLocal8Bit());
        qputenv("KIVO_SERVER", UriWithPassword(m_database).toUtf8());
    }
    void TearDown() override {
        OperatorRun::TearDown();
        qputenv("KIVO_ARCHIVE", m_formerArchive);
        qunsetenv("KIVO_SERVER");
        if (!Cluster().running()) Cluster().start();
    }
    QString archivePath() const { return m_dir.filePath(QStringLiteral("kivo.sqlite")); }
    QString serverStatus() const { return frame() ? frame()->serverStatusText() : QString(); }
    qint64 serverRecords() const {
        return Count(m_database, QStringLiteral("SELECT count(*) FROM records"));
    }

    QString m_database;
    QByteArray m_formerArchive;
};

// A whole test reaches the server although the server goes down hard in the middle of it: the
// status bar says so, the test runs on, and once the server is back every record, poll, state
// change and audit event arrives once. What the program could not send before it closed goes
// when it starts again.
TEST_F(OperatorToServer, AWholeTestArrivesAcrossAServerCrash) {
    startBench(30);
    ASSERT_EQ(openTestWindow(3, QStringLiteral("王建国"), QStringLiteral("检测中心")),
              (QStringList{"CLoginDlg", "CParamDlg"}));
    initialise();
    m_boxes.answer({MessageBox::Cancel, MessageBox::Cancel});
    click(FormId::StartButton);

    ASSERT_TRUE(PumpUntil([&] { return serverRecords() >= 1; }, 30000))
        << serverStatus().toStdString();
    const int recordsBefore = form()->historyRowCount(0);
    ASSERT_TRUE(Cluster().stopImmediate());
    ASSERT_TRUE(PumpUntil([&] { return serverStatus().startsWith("实验室服务器：无法连接（"); }))
        << serverStatus().toStdString();
    // The test goes on meanwhile.
    ASSERT_TRUE(PumpUntil([&] { return form()->historyRowCount(0) > recordsBefore; }, 30000));
    ASSERT_TRUE(Cluster().start());

    ASSERT_TRUE(waitForTestEnd(2, 60000));
    // An export is in the audit trail with its file's size and SHA-256.
    const QString data = m_dir.filePath(QStringLiteral("数据.bln"));
    m_files.answer({data});
    click(FormId::SaveText);
    EXPECT_TRUE(PumpUntil([&] { return serverStatus() == "实验室服务器：已同步"; }, 30000))
        << serverStatus().toStdString();
    closeProgram();

    // Started again (here: the sender alone), it sends what came after: the test's closing.
    server::ServerSender again(archivePath(), {}, SenderOptions(UriWithPassword(m_database)));
    ASSERT_TRUE(WaitSynced(again));
    ExpectServerHolds(m_database, archivePath(), 1);
    EXPECT_GE(serverRecords(), 4);
    EXPECT_GE(Count(m_database, "SELECT count(*) FROM polls"), 20);
    EXPECT_EQ(Count(m_database, "SELECT count(*) FROM state_changes"), 3);
    EXPECT_EQ(Count(m_database,
                    "SELECT count(*) FROM audit_events WHERE action IN ('started', 'finished', "
                    "'closed') AND user_name = 'admin'"),
              3);
    EXPECT_EQ(Count(m_database, "SELECT count(DISTINCT test_uid) FROM records"), 1);
    QFile file(data);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_EQ(Cluster().query("SELECT file_kind || ' ' || file_name || ' ' || file_size || ' ' || "
                              "file_sha256 FROM audit_events WHERE action = 'exported'",
                              m_database),
              QStringLiteral("文本数据 数据.bln %1 %2")
                  .arg(bytes.size())
                  .arg(QString::fromLatin1(
                      QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex())));
}

// Closing the program while the server cannot be reached names what still waits for it.
TEST_F(OperatorToServer, ClosingNamesWhatStillWaits) {
    WriteTest(archivePath(), Header(QStringLiteral("waiting"), QStringLiteral("/dev/ttyUSB0")), 3,
              10);
    qputenv("KIVO_SERVER", "postgresql://kivo:x@127.0.0.1:1/kivo");
    startProgram(m_dir.filePath(QStringLiteral("com1")), 1);
    ASSERT_TRUE(PumpUntil([&] { return serverStatus().startsWith("实验室服务器：无法连接"); }))
        << serverStatus().toStdString();
    closeProgram(false);
    m_app->ExitInstance();
    // The test's header, its three state changes, three records and ten polls.
    EXPECT_EQ(m_boxes.texts(),
              QStringList{"实验室服务器：待上传 17 条，将在下次启动本程序时上传。"});
}

// An archive that cannot be read at exit is said so, never taken for one with nothing waiting.
TEST_F(OperatorToServer, ClosingWithAnUnreadableArchiveSaysSo) {
    WriteTest(archivePath(), Header(QStringLiteral("waiting"), QStringLiteral("/dev/ttyUSB0")), 3,
              10);
    qputenv("KIVO_SERVER", "postgresql://kivo:x@127.0.0.1:1/kivo");
    startProgram(m_dir.filePath(QStringLiteral("com1")), 1);
    ASSERT_TRUE(PumpUntil([&] { return serverStatus().startsWith("实验室服务器：无法连接"); }))
        << serverStatus().toStdString();
    closeProgram(false);
    ASSERT_TRUE(QFile::rename(archivePath(), archivePath() + QStringLiteral(".gone")));
    QFile garbage(archivePath());
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, 'x'));
    garbage.close();
    m_app->ExitInstance();
    EXPECT_EQ(m_boxes.texts(),
              QStringList{"实验室服务器：无法读取本机测试档案，不知道还有多少数据待上传；"
                          "待上传的数据将在下次启动本程序时上传。"});
}

}  // namespace
