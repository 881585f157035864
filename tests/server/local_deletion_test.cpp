// 删除 in the history window removes the test from this computer only: it asks the lab server
// whether it holds the whole test, and the server then keeps it and records who deleted it.

#include <QLineEdit>
#include <QPushButton>

#include "accounts/login_dialog.h"
#include "archive/audit_trail.h"
#include "history/delete_password_dialog.h"
#include "history/test_deletion.h"
#include "platform/program_folder.h"
#include "run/archive_session.h"
#include "server_fixture.h"
#include "shell/modal_script.h"
#include "state/test_state.h"
#include "support/scripted_dialogs.h"

namespace {

using namespace ServerTesting;

TEST(LocalDeletion, WaitsForTheServerAndLeavesItsCopyWhole) {
    QTemporaryDir dir;
    ProgramFolder::setForTests(dir.path());
    ResetTestStateForTests();
    const QString path = dir.filePath(QStringLiteral("kivo.sqlite"));
    const QString database = FreshDatabase();
    qputenv("KIVO_SERVER", UriWithPassword(database).toUtf8());
    WriteTest(path, Header(QStringLiteral("to-delete"), QStringLiteral("/dev/ttyUSB0")), 72, 300);
    ArchiveSession::open(path);
    ScriptedMessageBoxes boxes;
    auto summary = [&] { return archive::ArchiveReader::open(path, nullptr)->listTests(); };

    // Nothing has reached the server yet: the test stays.
    EXPECT_FALSE(DeleteArchivedTest(nullptr, path, summary().at(0), std::nullopt));
    EXPECT_EQ(boxes.texts(),
              QStringList{"这项实验还没有全部上传到实验室服务器（服务器上没有这项实验），"
                          "请等状态栏显示“已同步”后再删除。"});
    ASSERT_EQ(summary().size(), 1u);

    server::ServerSender sender(path, {}, SenderOptions(UriWithPassword(database)));
    ASSERT_TRUE(WaitSynced(sender));
    boxes.answer({MessageBox::Yes});
    ModalScript script;
    script
        .then<CLoginDlg>([](CLoginDlg* d) {
            static_cast<QLineEdit*>(d->item(CLoginDlg::IdPassword))->setText("579");
            static_cast<QPushButton*>(d->item(1))->click();
        })
        .then<CDeletePasswordDlg>([](CDeletePasswordDlg* d) {
            static_cast<QLineEdit*>(d->item(CDeletePasswordDlg::IdPassword))->setText("579");
            static_cast<QPushButton*>(d->item(1))->click();
        });
    EXPECT_TRUE(DeleteArchivedTest(nullptr, path, summary().at(0), std::nullopt));
    EXPECT_TRUE(summary().empty());
    ASSERT_TRUE(ArchiveSession::audit()->flush(30000));
    sender.wake();
    EXPECT_TRUE(PumpUntil([&] {
        return Cluster().query(
                   "SELECT user_name FROM audit_events WHERE action = 'deleted' "
                   "AND test_uid = 'to-delete'",
                   database) == QLatin1String("admin");
    }));
    EXPECT_EQ(Count(database, "SELECT count(*) FROM records WHERE test_uid = 'to-delete'"), 72);
    EXPECT_EQ(Count(database, "SELECT count(*) FROM polls WHERE test_uid = 'to-delete'"), 300);

    ArchiveSession::close();
    qunsetenv("KIVO_SERVER");
    ResetTestStateForTests();
    ProgramFolder::setForTests(QString());
}

}  // namespace
