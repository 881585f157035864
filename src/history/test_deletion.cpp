#include "history/test_deletion.h"

#include "accounts/account_file.h"
#include "accounts/login_dialog.h"
#include "archive/archive_reader.h"
#include "archive/test_lock.h"
#include "history/archive_access.h"
#include "history/delete_password_dialog.h"
#include "platform/busy_work.h"
#include "platform/message_box.h"
#include "run/run_audit.h"
#include "server/deletion_check.h"
#include "server/server_settings.h"
#include "state/test_state.h"

namespace {

bool LoggedIn(QWidget* owner) {
    if (!g_strCurrentUser.isEmpty()) return true;
    if (!AccountFile::ensure(owner)) return false;
    CLoginDlg login(owner);
    return login.exec() == QDialog::Accepted;
}

}  // namespace

bool DeleteArchivedTest(QWidget* owner, const QString& archivePath,
                        const archive::TestSummary& listed, std::optional<qint64> viewedId) {
    // Holding the test's lock while deleting keeps any program from taking it up meanwhile.
    // A test not yet closed may still be its program's, finished or not: its process mark is
    // checked too.
    QString why;
    const std::unique_ptr<archive::TestLock> lock =
        archive::TestLock::tryAcquire(archivePath, listed.uid, nullptr, &why, listed.lockKey,
                                      listed.closed ? QString() : listed.lockHolder);
    if (!lock) {
        WarnOperator(owner,
                     why.isEmpty()
                         ? QStringLiteral("这项实验正在运行（本程序或另一个程序中），不能删除。")
                         : why + QStringLiteral("\n实验没有删除。"));
        return false;
    }
    // The list's row may be older than the archive: the test is read again under its lock, by
    // its uid, and only that test is deleted.
    QString message;
    std::unique_ptr<archive::ArchiveReader> reader =
        archive::ArchiveReader::open(archivePath, &message);
    if (!reader) {
        WarnOperator(owner, message);
        return false;
    }
    const std::optional<archive::TestSummary> found = reader->testOf(listed.uid);
    if (!found) {
        if (!reader->lastError().isEmpty()) {
            WarnOperator(owner, reader->lastError() + QStringLiteral("\n实验没有删除。"));
            return false;
        }
        WarnOperator(owner,
                     QStringLiteral("测试档案 %1 中已没有这项实验（可能已在另一个程序中删除）。")
                         .arg(archivePath));
        return true;
    }
    const archive::TestSummary& test = *found;
    if (viewedId && *viewedId == test.id) {
        WarnOperator(owner,
                     QStringLiteral("这项实验正在实验窗口中显示，请先关闭实验窗口，再删除。"));
        return false;
    }
    // The lab's record stays whole: a test goes from this computer only once the server,
    // asked now, holds all of it as the archive does. It is asked before the questions, so
    // the operator is not asked in vain, and again right before the deletion: the server may
    // have been restored or emptied while they were answered.
    const server::ServerSettings settings = server::ReadServerSettings();
    const auto serverLacksTest = [&] {
        if (!settings.configured()) return false;
        QString why;
        RunWithBusyBox(owner, QStringLiteral("正在向实验室服务器核对这项实验……"),
                       [&] { why = server::WhyNotWholeOnServer(archivePath, test.uid, settings); });
        if (why.isEmpty()) return false;
        WarnOperator(owner, why);
        return true;
    };
    if (serverLacksTest()) return false;
    const QString question = QStringLiteral(
                                 "确定删除 %1 %2 开始的实验（测试人员：%3，%4 条记录）吗？\n"
                                 "实验及其全部记录将从测试档案中删除，无法恢复。")
                                 .arg(test.testDate, test.startTime, test.tester)
                                 .arg(test.recordCount);
    if (MessageBox::show(owner, question, QStringLiteral("删除实验"), MessageBox::Buttons::YesNo,
                         MessageBox::Icon::Question) != MessageBox::Yes)
        return false;
    if (!LoggedIn(owner)) return false;
    {
        CDeletePasswordDlg password(owner);
        if (password.exec() != QDialog::Accepted) return false;
    }
    if (serverLacksTest()) return false;
    if (!reader->deleteTest(test.uid, &message)) {
        WarnOperator(owner, message + QStringLiteral("\n实验没有删除。"));
        return false;
    }
    // Only this computer's copy goes; the lab server keeps the test and learns of the deletion.
    RunAudit::record(QStringLiteral("deleted"), test.uid,
                     QStringLiteral("删除本机档案中的实验（%1 %2，测试人员：%3）")
                         .arg(test.testDate, test.startTime, test.tester));
    return true;
}
