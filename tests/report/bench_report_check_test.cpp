// The check on a report the bench issues (导出报告PDF) of a test it has sent to the lab server:
// its verification code is the one the server works out from its own copy, so the lab's verify
// page confirms it; a change to the test's data changes the code, and the server agrees with
// the new code once the change has reached it.

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>

#include "archive/archive_writer.h"
#include "history/test_report_export.h"
#include "server/server_fixture.h"
#include "server/server_settings.h"
#include "server/test_account.h"
#include "server/verification_code.h"
#include "support/scripted_dialogs.h"

namespace {

using namespace ServerTesting;

TEST(BenchReportCheck, TheCodeIsTheServersAndFollowsTheData) {
    QTemporaryDir dir;
    const QString archivePath = dir.filePath("kivo.sqlite");
    const QByteArray former = qgetenv("KIVO_ARCHIVE");
    qputenv("KIVO_ARCHIVE", archivePath.toLocal8Bit());
    const QString database = FreshDatabase();
    const QString uid = QStringLiteral("5c0ffee1-0000-4000-8000-00000000000a");
    WriteTest(archivePath, Header(uid, QStringLiteral("/dev/ttyUSB0")), 12, 400);
    ASSERT_TRUE(server::WriteVerifyBase(QStringLiteral(" https://lab.example.cn/ "), nullptr));
    ScriptedMessageBoxes boxes;
    ScriptedFileDialogs files;

    // The report number and code of the bench's report, read from its PDF.
    int made = 0;
    const auto benchReport = [&]() -> std::pair<QString, QString> {
        const QString pdf = dir.filePath(QStringLiteral("report%1.pdf").arg(++made));
        files.answer({pdf});
        EXPECT_TRUE(ExportTestReportPdf(nullptr, archivePath, 1))
            << boxes.texts().join(' ').toStdString();
        QProcess text;
        text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        EXPECT_TRUE(text.waitForFinished(30000));
        const QString squeezed =
            QString::fromUtf8(text.readAllStandardOutput()).remove(QRegularExpression("\\s"));
        EXPECT_TRUE(squeezed.contains("扫码或访问https://lab.example.cn/verify核验报告"));
        return {
            QRegularExpression("报告编号：(DTL-\\d{8}-[0-9A-F]{8})").match(squeezed).captured(1),
            QRegularExpression("核验码：(\\d{4}-\\d{4}-\\d{4})").match(squeezed).captured(1)};
    };
    // The code the server's verify page works out for the report number.
    const auto serverCode = [&](const QString& number) {
        server::PgConnection db = Superuser(database);
        const std::map<QString, server::TestAccount> accounts = server::ServerAccounts(db, {uid});
        return accounts.count(uid) ? server::VerificationCode(number, accounts.at(uid)) : QString();
    };
    const auto send = [&] {
        server::ServerSender sender(archivePath, {}, SenderOptions(UriWithPassword(database)));
        return WaitSynced(sender);
    };

    ASSERT_TRUE(send());
    auto [number, code] = benchReport();
    EXPECT_EQ(code, serverCode(number));

    const struct {
        const char* change;
        std::function<void(archive::ArchiveWriter&)> make;
    } changes[] = {
        {"a record's reading", [&](auto& w) { w.addRecord(uid, Record(3, QStringLiteral("!"))); }},
        {"a record more", [&](auto& w) { w.addRecord(uid, Record(13)); }},
        {"a poll more", [&](auto& w) { w.addPoll(uid, Poll(401)); }},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.change);
        {
            archive::ArchiveWriter writer(archivePath, {});
            c.make(writer);
            ASSERT_TRUE(writer.flush(30000));
        }
        const auto [sameNumber, changed] = benchReport();
        EXPECT_EQ(sameNumber, number);
        EXPECT_NE(changed, code);
        // Until the server holds the change, its code is the old one: the new report does
        // not verify yet.
        EXPECT_EQ(serverCode(number), code);
        ASSERT_TRUE(send());
        EXPECT_EQ(serverCode(number), changed);
        code = changed;
    }
    EXPECT_EQ(boxes.count(), 0) << boxes.texts().join(' ').toStdString();
    qputenv("KIVO_ARCHIVE", former);
}

}  // namespace
