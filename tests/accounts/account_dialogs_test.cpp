#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>

#include "accounts/account_file.h"
#include "accounts/exit_dialog.h"
#include "accounts/login_dialog.h"
#include "accounts/user_dialog.h"
#include "platform/program_folder.h"
#include "support/login_driver.h"
#include "support/scripted_dialogs.h"
#include "state/test_state.h"

namespace {

class AccountDialogsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ProgramFolder::setForTests(m_dir.path());
        ResetTestStateForTests();
    }
    void TearDown() override { ProgramFolder::setForTests(QString()); }

    void write(const QByteArray& content) {
        QFile file(AccountFile::path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(content), content.size());
    }
    QByteArray bytes() const {
        QFile file(AccountFile::path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static QStringList names(CLoginDlg& dialog) { return LoginNames(dialog); }
    // Picks `name` in the login list, types `password` and presses "确定".
    static bool login(const QString& name, const QString& password) {
        return LogIn(name, password);
    }
    static bool exitWith(const QString& password) {
        CExitDlg dialog;
        static_cast<QLineEdit*>(dialog.item(CExitDlg::IdPassword))->setText(password);
        static_cast<QPushButton*>(dialog.item(1))->click();
        return dialog.result() == QDialog::Accepted;
    }

    void expectWrongPassword(int index) {
        ASSERT_GT(m_boxes.count(), index);
        const auto shown = m_boxes.shown()[static_cast<size_t>(index)].request;
        EXPECT_EQ(shown.text, QStringLiteral("密码错误,请重新输入"));
        EXPECT_EQ(shown.caption, QStringLiteral("密码错误"));
        EXPECT_EQ(shown.icon, MessageBox::Icon::Exclamation);
    }

    QTemporaryDir m_dir;
    ScriptedMessageBoxes m_boxes;
};

TEST_F(AccountDialogsTest, FirstRunListsAdminAndItsPasswordLogsIn) {
    ASSERT_TRUE(AccountFile::ensure(nullptr));
    CLoginDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("登陆系统"));
    EXPECT_EQ(dialog.size(), QSize(280, 150));
    EXPECT_EQ(names(dialog), QStringList{"admin"});
    EXPECT_EQ(static_cast<QLineEdit*>(dialog.item(CLoginDlg::IdPassword))->echoMode(),
              QLineEdit::Password);
    EXPECT_TRUE(login("admin", "579"));
    EXPECT_EQ(g_strCurrentUser, "admin");
    EXPECT_EQ(g_strCurrentPassword, "579");
    EXPECT_EQ(m_boxes.count(), 0);
}

TEST_F(AccountDialogsTest, NamesAreSortedWhateverTheFileOrder) {
    write("zed\r\n1\r\nbob\r\n2\r\nAdam\r\n3\r\n");
    CLoginDlg dialog;
    EXPECT_EQ(names(dialog), (QStringList{"Adam", "bob", "zed"}));
    EXPECT_EQ(static_cast<QComboBox*>(dialog.item(CLoginDlg::IdUser))->currentIndex(), 0);
}

TEST_F(AccountDialogsTest, WrongPasswordKeepsTheDialogOpenAndTheUserUnchanged) {
    write("admin\r\n579\r\n");
    EXPECT_FALSE(login("admin", "578"));
    expectWrongPassword(0);
    EXPECT_TRUE(g_strCurrentUser.isEmpty());
    EXPECT_FALSE(login("admin", "579 "));
    EXPECT_FALSE(login("admin", QStringLiteral("579😀")));  // GBK cannot hold it: no match
    EXPECT_EQ(m_boxes.count(), 3);
}

TEST_F(AccountDialogsTest, TheFirstOfTwoSameNameRecordsDecides) {
    write("bob\r\nfirst\r\nbob\r\nsecond\r\n");
    CLoginDlg dialog;
    EXPECT_EQ(names(dialog), (QStringList{"bob", "bob"}));
    EXPECT_FALSE(login("bob", "second"));
    expectWrongPassword(0);
    EXPECT_TRUE(login("bob", "first"));
}

TEST_F(AccountDialogsTest, AnEmptyPasswordLineAcceptsAnEmptyPasswordAtLoginAndExit) {
    write("admin\r\n579\r\nguest\r\n\r\n");
    EXPECT_FALSE(login("guest", "x"));
    EXPECT_TRUE(login("guest", ""));
    EXPECT_EQ(g_strCurrentUser, "guest");
    EXPECT_TRUE(exitWith(""));
}

TEST_F(AccountDialogsTest, ABareLfFileReadsWhole) {
    write("admin\n579\nbob\n12\n");
    CLoginDlg dialog;
    EXPECT_EQ(names(dialog), (QStringList{"admin", "bob"}));
    EXPECT_FALSE(login("bob", "1"));
    EXPECT_TRUE(login("bob", "12"));
    EXPECT_EQ(g_strCurrentUser, "bob");
}

TEST_F(AccountDialogsTest, TheExitPasswordIsTheOneTypedAtTheLastLogin) {
    write("admin\r\n579\r\nbob\r\nbobpw\r\n");
    ASSERT_TRUE(login("bob", "bobpw"));
    // The user's records go away; the exit dialog still wants what was typed.
    ASSERT_TRUE(AccountFile::remove(nullptr, "bob"));
    EXPECT_FALSE(exitWith("579"));
    expectWrongPassword(0);
    EXPECT_TRUE(exitWith("bobpw"));

    ASSERT_TRUE(login("admin", "579"));
    EXPECT_FALSE(exitWith("bobpw"));
    EXPECT_TRUE(exitWith("579"));
}

TEST_F(AccountDialogsTest, AnUnreadableFileEndsTheLoginAtOnceWithAMessage) {
    CLoginDlg dialog;  // no account file
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    ASSERT_EQ(m_boxes.count(), 1);
    EXPECT_TRUE(m_boxes.texts()[0].contains("data.bk"));
}

// --- User management ---

class UserDialogTest : public AccountDialogsTest {
  protected:
    static QStringList rows(CUserDlg& dialog) {
        QStringList out;
        for (int r = 0; r < dialog.list()->rowCount(); ++r)
            out << dialog.list()->item(r, 1)->text() + "/" + dialog.list()->item(r, 2)->text();
        return out;
    }
    static QList<int> selectedRows(CUserDlg& dialog) {
        QList<int> out;
        for (const QModelIndex& i : dialog.list()->selectionModel()->selectedRows()) out << i.row();
        return out;
    }
    static void fill(CUserDlg& dialog, const QString& name, const QString& pw, const QString& rep) {
        static_cast<QLineEdit*>(dialog.item(CUserDlg::IdName))->setText(name);
        static_cast<QLineEdit*>(dialog.item(CUserDlg::IdPassword))->setText(pw);
        static_cast<QLineEdit*>(dialog.item(CUserDlg::IdRepeat))->setText(rep);
    }
    static void press(CUserDlg& dialog, int id) {
        static_cast<QPushButton*>(dialog.item(id))->click();
    }
    void expectRefusal(int index, const QString& text) {
        ASSERT_GT(m_boxes.count(), index);
        const auto shown = m_boxes.shown()[static_cast<size_t>(index)].request;
        EXPECT_EQ(shown.text, text);
        EXPECT_EQ(shown.caption, QStringLiteral("错误"));
        EXPECT_EQ(shown.icon, MessageBox::Icon::Exclamation);
    }
};

TEST_F(UserDialogTest, FirstRunShowsAdminSelectedWithItsPasswordMasked) {
    ASSERT_TRUE(AccountFile::ensure(nullptr));
    CUserDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("用户管理"));
    EXPECT_EQ(rows(dialog), QStringList{"admin/******"});
    EXPECT_EQ(selectedRows(dialog), QList<int>{0});
    EXPECT_TRUE(dialog.list()->isColumnHidden(0));
    EXPECT_EQ(dialog.list()->horizontalHeaderItem(1)->text(), QStringLiteral("用户名"));
    EXPECT_EQ(dialog.list()->horizontalHeaderItem(2)->text(), QStringLiteral("密码"));
}

TEST_F(UserDialogTest, AddRefusalsWriteNothing) {
    ASSERT_TRUE(AccountFile::ensure(nullptr));
    CUserDlg dialog;
    fill(dialog, "", "1", "1");
    press(dialog, CUserDlg::IdAdd);
    expectRefusal(0, QStringLiteral("请输出用户名"));
    fill(dialog, "bob", "1", "2");
    press(dialog, CUserDlg::IdAdd);
    expectRefusal(1, QStringLiteral("两次输入密码不同"));
    EXPECT_EQ(bytes(), QByteArray("admin\r\n579\r\n"));
}

TEST_F(UserDialogTest, AddWritesTheFileButLeavesTheListForTheNextOpening) {
    ASSERT_TRUE(AccountFile::ensure(nullptr));
    {
        CUserDlg dialog;
        fill(dialog, QStringLiteral("李四"), "pw", "pw");
        press(dialog, CUserDlg::IdAdd);
        press(dialog, CUserDlg::IdAdd);  // no check for an existing name
        EXPECT_EQ(rows(dialog), QStringList{"admin/******"});
        EXPECT_EQ(static_cast<QLineEdit*>(dialog.item(CUserDlg::IdName))->text(),
                  QStringLiteral("李四"));
        EXPECT_EQ(static_cast<QLineEdit*>(dialog.item(CUserDlg::IdRepeat))->text(), "pw");
    }
    CUserDlg reopened;
    EXPECT_EQ(rows(reopened), (QStringList{"admin/******", QStringLiteral("李四/******"),
                                           QStringLiteral("李四/******")}));
    EXPECT_EQ(m_boxes.count(), 0);
}

TEST_F(UserDialogTest, DeleteRemovesEveryRecordButOnlyTheSelectedRow) {
    write("admin\r\n579\r\nbob\r\n1\r\ncarl\r\n2\r\nbob\r\n3\r\n");
    g_strCurrentUser = "admin";
    CUserDlg dialog;
    dialog.list()->selectRow(3);
    press(dialog, CUserDlg::IdDelete);
    EXPECT_EQ(bytes(), QByteArray("admin\r\n579\r\ncarl\r\n2\r\n"));
    EXPECT_EQ(rows(dialog), (QStringList{"admin/******", "bob/******", "carl/******"}));
    EXPECT_TRUE(selectedRows(dialog).isEmpty());
    EXPECT_EQ(m_boxes.count(), 0);

    // Nothing is selected after a delete.
    press(dialog, CUserDlg::IdDelete);
    expectRefusal(0, QStringLiteral("请选择要删除的记录"));
    EXPECT_EQ(rows(dialog).size(), 3);
}

TEST_F(UserDialogTest, TheLoggedInUserCannotBeDeletedButAnyOtherCan) {
    write("admin\r\n579\r\nbob\r\n1\r\n");
    g_strCurrentUser = "bob";
    CUserDlg dialog;
    dialog.list()->selectRow(1);
    press(dialog, CUserDlg::IdDelete);
    expectRefusal(0, QStringLiteral("该用户正登陆无法删除"));
    EXPECT_EQ(bytes(), QByteArray("admin\r\n579\r\nbob\r\n1\r\n"));
    dialog.list()->selectRow(0);
    press(dialog, CUserDlg::IdDelete);
    EXPECT_EQ(bytes(), QByteArray("bob\r\n1\r\n"));
    EXPECT_EQ(rows(dialog), QStringList{"bob/******"});
}

}  // namespace
