// The account file data.bk as it may be found on disk: empty, garbage, a folder, unreadable,
// unwritable, or with a huge name. Nothing crashes, each problem is named in a message, and
// the file is never damaged.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <functional>
#include <random>

#include "accounts/account_file.h"
#include "accounts/login_dialog.h"
#include "accounts/user_dialog.h"
#include "bad_input/bad_input_cases.h"
#include "platform/program_folder.h"
#include "support/login_driver.h"
#include "support/scripted_dialogs.h"
#include "state/test_state.h"

namespace {

class AccountFileInput : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ProgramFolder::setForTests(m_dir.path());
        ResetTestStateForTests();
    }
    void TearDown() override {
        if (m_immutable) QProcess::execute("chattr", {"-i", AccountFile::path()});
        ProgramFolder::setForTests(QString());
    }

    static void write(const QByteArray& content) {
        QFile file(AccountFile::path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(content), content.size());
    }
    static QByteArray bytes() {
        QFile file(AccountFile::path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    static QStringList loginNames(CLoginDlg& dialog) { return LoginNames(dialog); }
    static bool login(const QString& name, const QString& password) {
        return LogIn(name, password);
    }

    QTemporaryDir m_dir;
    ScriptedMessageBoxes m_boxes;
    bool m_immutable = false;
};

TEST_F(AccountFileInput, AnEmptyFileEndsTheLoginWithAMessageInsteadOfAnEmptyList) {
    write("");
    CLoginDlg dialog;
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    ASSERT_EQ(m_boxes.count(), 1);
    EXPECT_TRUE(m_boxes.texts()[0].contains(QStringLiteral("没有任何用户")));
    EXPECT_TRUE(m_boxes.texts()[0].contains(AccountFile::path()));
    EXPECT_EQ(bytes(), QByteArray());

    // User management still opens on it and can add the first account.
    m_boxes.clear();
    CUserDlg users;
    EXPECT_EQ(users.list()->rowCount(), 0);
    ASSERT_TRUE(AccountFile::append(nullptr, "bob", "1"));
    EXPECT_EQ(bytes(), QByteArray("bob\r\n1\r\n"));
    EXPECT_EQ(m_boxes.count(), 0);
}

TEST_F(AccountFileInput, BinaryGarbageIsListedWithReplacementCharactersAndCanBeDeleted) {
    std::mt19937 random(20100507);
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i) garbage.append(static_cast<char>(random() & 0xFF));
    garbage.append("\r\nadmin\r\n579\r\n");  // LF count decides where this record starts
    if (garbage.count('\n') % 2 != 0) garbage.prepend('\n');
    write(garbage);

    CLoginDlg dialog;
    const QStringList names = loginNames(dialog);
    EXPECT_GT(names.size(), 2);
    EXPECT_TRUE(names.contains("admin"));
    EXPECT_TRUE(names.join(QString()).contains(QChar(0xFFFD)));
    EXPECT_EQ(m_boxes.count(), 0);
    EXPECT_TRUE(login("admin", "579"));

    // A garbage record goes by its exact bytes; the good record is kept.
    g_strCurrentUser = "admin";
    CUserDlg users;
    const int rows = users.list()->rowCount();
    ASSERT_EQ(rows, names.size());
    int garbageRow = 0;
    while (users.list()->item(garbageRow, 1)->text() == "admin") ++garbageRow;
    users.list()->selectRow(garbageRow);
    static_cast<QPushButton*>(users.item(CUserDlg::IdDelete))->click();
    EXPECT_EQ(m_boxes.count(), 0) << m_boxes.texts().join("|").toStdString();
    const auto left = AccountFile::read(nullptr);
    ASSERT_TRUE(left);
    EXPECT_LT(left->size(), rows);
    EXPECT_TRUE(login("admin", "579"));
}

TEST_F(AccountFileInput, AFolderNamedDataBkIsNamedAndLeftAlone) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("data.bk"));
    EXPECT_TRUE(AccountFile::ensure(nullptr));  // something is there: nothing is made
    CLoginDlg dialog;
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_FALSE(AccountFile::append(nullptr, "bob", "1"));
    EXPECT_FALSE(AccountFile::remove(nullptr, "admin"));
    ASSERT_EQ(m_boxes.count(), 3);
    for (const QString& text : m_boxes.texts()) {
        EXPECT_TRUE(text.contains(QStringLiteral("是一个文件夹"))) << text.toStdString();
        EXPECT_TRUE(text.contains(AccountFile::path()));
    }
    EXPECT_TRUE(QFileInfo(AccountFile::path()).isDir());
    EXPECT_TRUE(QDir(AccountFile::path()).isEmpty());
}

TEST_F(AccountFileInput, AnUnreadableFileIsReportedAsSuch) {
    write("admin\r\n579\r\n");
    const QByteArray file = QFile::encodeName(AccountFile::path());
    ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(file.constData(), 0600), 0);
    // As root no mode bit stops a read: the check runs as "nobody" then.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::getuid() == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
        } else if (::chmod(file.constData(), 0200) != 0) {
            ::_exit(11);
        }
        ScriptedMessageBoxes boxes;
        if (AccountFile::read(nullptr)) ::_exit(1);
        if (AccountFile::append(nullptr, "bob", "1")) ::_exit(2);
        if (boxes.count() != 2) ::_exit(3);
        if (!boxes.texts()[0].contains(QStringLiteral("没有读取用户文件"))) ::_exit(4);
        if (!boxes.texts()[0].contains(AccountFile::path())) ::_exit(5);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::chmod(file.constData(), 0600);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(bytes(), QByteArray("admin\r\n579\r\n"));
}

TEST_F(AccountFileInput, AnUnwritableFileRefusesChangesAndStaysAsItWas) {
    write("admin\r\n579\r\nbob\r\n1\r\n");
    if (::getuid() == 0) {
        if (QProcess::execute("chattr", {"+i", AccountFile::path()}) != 0)
            GTEST_SKIP() << "chattr +i is not available on this file system";
        m_immutable = true;
    } else {
        ASSERT_TRUE(QFile::setPermissions(AccountFile::path(), QFile::ReadOwner));
        ASSERT_TRUE(QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    }
    EXPECT_FALSE(AccountFile::append(nullptr, "carl", "2"));
    EXPECT_FALSE(AccountFile::remove(nullptr, "bob"));
    ASSERT_EQ(m_boxes.count(), 2);
    EXPECT_TRUE(m_boxes.texts()[0].startsWith(QStringLiteral("无法添加用户")));
    EXPECT_TRUE(m_boxes.texts()[1].startsWith(QStringLiteral("无法删除用户")));
    for (const QString& text : m_boxes.texts()) {
        EXPECT_TRUE(text.contains(QStringLiteral("只读")) ||
                    text.contains(QStringLiteral("不可写")))
            << text.toStdString();
    }
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(bytes(), QByteArray("admin\r\n579\r\nbob\r\n1\r\n"));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"data.bk"});
}

TEST_F(AccountFileInput, AFullDiskRefusesChangesAndKeepsEveryAccount) {
    if (!BadInput::MountTinyDisk(m_dir.path())) GTEST_SKIP() << "no small disk to fill here";
    struct Unmount {
        QString folder;
        ~Unmount() { BadInput::Unmount(folder); }
    } unmount{m_dir.path()};
    write("admin\r\n579\r\nbob\r\n1\r\n");
    ASSERT_TRUE(BadInput::FillDisk(m_dir.path()));

    // The new file cannot be written; the old one is not touched. (An append may still
    // fit into the space the file already has on the disk.)
    EXPECT_FALSE(AccountFile::remove(nullptr, "bob"));
    ASSERT_EQ(m_boxes.count(), 1);
    EXPECT_TRUE(m_boxes.texts()[0].startsWith(QStringLiteral("无法删除用户")));
    EXPECT_TRUE(m_boxes.texts()[0].contains(QStringLiteral("磁盘可能已满")));
    EXPECT_EQ(bytes(), QByteArray("admin\r\n579\r\nbob\r\n1\r\n"));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"data.bk", "filler"}));
}

TEST_F(AccountFileInput, A10000CharacterNameIsListedAndLogsIn) {
    const QString name = BadInput::Huge(u'名');
    write("admin\r\n579\r\n");
    ASSERT_TRUE(AccountFile::append(nullptr, name, "pw"));
    {
        CLoginDlg dialog;
        EXPECT_EQ(loginNames(dialog), (QStringList{"admin", name}));
    }
    EXPECT_TRUE(login(name, "pw"));
    EXPECT_EQ(g_strCurrentUser, name);
    CUserDlg users;
    ASSERT_EQ(users.list()->rowCount(), 2);
    EXPECT_EQ(users.list()->item(1, 1)->text(), name);
    EXPECT_EQ(m_boxes.count(), 0);
}

}  // namespace
