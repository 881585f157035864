// 删除 in the history window removes the test from this computer only: it asks the lab server
// whether it holds the whole test, before the questions and again right before the deletion,
// and the server then keeps it and records who deleted it.

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
    WriteTest(path, Header(QStringLiteral("lost-late"), QStringLiteral("/dev/ttyUSB1")), 5, 40);
    ArchiveSession::open(path);
    ScriptedMessageBoxes boxes;
    auto tests = [&] { return archive::ArchiveReader::open(path, nullptr)->listTests(); };
    auto summary = [&](const char* uid) {
        for (const archive::TestSummary& test : tests())
            if (test.uid == QLatin1String(uid)) return test;
        ADD_FAILURE() << uid << " is not in the archive";
        return archive::TestSummary{};
    };

    // Nothing has reached the server yet: the test stays.
    EXPECT_FALSE(DeleteArchivedTest(nullptr, path, summary("to-delete"), std::nullopt));
    EXPECT_EQ(boxes.texts(),
              QStringList{"这项实验还没有全部上传到实验室服务器（服务器上没有这项实验），"
                          "请等状态栏显示“已同步”后再删除。"});
    ASSERT_EQ(tests().size(), 2u);

    server::ServerSender sender(path, {}, SenderOptions(UriWithPassword(database)));
    ASSERT_TRUE(WaitSynced(sender));
    const auto typePassword = [](auto* d, int field) {
        static_cast<QLineEdit*>(d->item(field))->setText("579");
        static_cast<QPushButton*>(d->item(1))->click();
    };

    // The server loses polls of the test while the delete password is typed (a restore, say):
    // the check right before the deletion refuses it.
    boxes.answer({MessageBox::Yes});
    ModalScript script;
    script
        .then<CLoginDlg>([&](CLoginDlg* d) { typePassword(d, CLoginDlg::IdPassword); })
        .then<CDeletePasswordDlg>([&](CDeletePasswordDlg* d) {
            EXPECT_EQ(Cluster().sql("SET session_replication_role = replica; "
                                    "DELETE FROM polls WHERE test_uid = 'lost-late' AND seq > 30",
                                    database),
                      QString());
            typePassword(d, CDeletePasswordDlg::IdPassword);
        });
    EXPECT_FALSE(DeleteArchivedTest(nullptr, path, summary("lost-late"), std::nullopt));
    EXPECT_TRUE(boxes.texts().last().contains(QStringLiteral("缺少轮询数据 10 条")))
        << boxes.texts().last().toStdString();
    EXPECT_EQ(tests().size(), 2u);

    boxes.answer({MessageBox::Yes});
    script.then<CDeletePasswordDlg>(
        [&](CDeletePasswordDlg* d) { typePassword(d, CDeletePasswordDlg::IdPassword); });
    EXPECT_TRUE(DeleteArchivedTest(nullptr, path, summary("to-delete"), std::nullopt));
    ASSERT_EQ(tests().size(), 1u);
    EXPECT_EQ(tests().at(0).uid, QStringLiteral("lost-late"));
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
