#include "accounts/account_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>

#include "platform/gbk_codec.h"
#include "platform/program_folder.h"
#include "support/scripted_dialogs.h"
#include "state/test_state.h"

namespace {

class AccountFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ProgramFolder::setForTests(m_dir.path());
        ResetTestStateForTests();
    }
    void TearDown() override { ProgramFolder::setForTests(QString()); }

    QByteArray bytes() const {
        QFile file(AccountFile::path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    void write(const QByteArray& content) {
        QFile file(AccountFile::path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(content), content.size());
    }

    QTemporaryDir m_dir;
    ScriptedMessageBoxes m_boxes;
};

QByteArray gbkBytes(const QString& text) { return gbk::encode(text).value(); }

TEST_F(AccountFileTest, EnsureWritesTheTwelveByteDefaultOnlyWhenTheFileIsMissing) {
    EXPECT_EQ(AccountFile::path(), m_dir.path() + "/data.bk");
    ASSERT_TRUE(AccountFile::ensure(nullptr));
    EXPECT_EQ(bytes(), QByteArray("admin\r\n579\r\n"));
    EXPECT_EQ(bytes().size(), 12);

    write("bob\r\n1\r\n");
    ASSERT_TRUE(AccountFile::ensure(nullptr));
    EXPECT_EQ(bytes(), QByteArray("bob\r\n1\r\n"));
    EXPECT_EQ(m_boxes.count(), 0);
}

TEST_F(AccountFileTest, AppendAddsOneGbkRecordAtTheEnd) {
    ASSERT_TRUE(AccountFile::ensure(nullptr));
    ASSERT_TRUE(AccountFile::append(nullptr, QStringLiteral("张三"), QStringLiteral("密码1")));
    ASSERT_TRUE(AccountFile::append(nullptr, QStringLiteral("empty"), QString()));
    EXPECT_EQ(bytes(), "admin\r\n579\r\n" + gbkBytes(QStringLiteral("张三")) + "\r\n" +
                           gbkBytes(QStringLiteral("密码1")) + "\r\nempty\r\n\r\n");
}

TEST_F(AccountFileTest, AppendAfterALastLineWithoutLineEndKeepsBothRecordsApart) {
    write("admin\r\n579");
    ASSERT_TRUE(AccountFile::append(nullptr, "bob", "1"));
    EXPECT_EQ(bytes(), QByteArray("admin\r\n579\r\nbob\r\n1\r\n"));
    auto records = AccountFile::read(nullptr);
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 2);
    EXPECT_EQ(records->at(0).password->value, "579");
}

TEST_F(AccountFileTest, AppendRefusesWhatTheFileCannotHoldAndWritesNothing) {
    ASSERT_TRUE(AccountFile::ensure(nullptr));
    EXPECT_FALSE(AccountFile::append(nullptr, QStringLiteral("用户😀"), "1"));
    EXPECT_FALSE(AccountFile::append(nullptr, "bob", QStringLiteral("한국")));
    EXPECT_FALSE(AccountFile::append(nullptr, "two\nlines", "1"));
    EXPECT_EQ(bytes(), QByteArray("admin\r\n579\r\n"));
    ASSERT_EQ(m_boxes.count(), 3);
    EXPECT_TRUE(m_boxes.texts()[0].contains("GBK"));
    EXPECT_TRUE(m_boxes.texts()[0].startsWith(QStringLiteral("用户名")));
    EXPECT_TRUE(m_boxes.texts()[1].startsWith(QStringLiteral("密码")));
    EXPECT_TRUE(m_boxes.texts()[2].contains(QStringLiteral("换行")));
}

TEST_F(AccountFileTest, RemoveDropsEveryRecordOfTheNameThroughAReplacedFile) {
    write("admin\r\n579\r\nbob\r\n1\r\ncarl\r\n\r\nbob\r\n3\r\nbobby\r\n4\r\n");
    ASSERT_TRUE(AccountFile::remove(nullptr, "bob"));
    EXPECT_EQ(bytes(), QByteArray("admin\r\n579\r\ncarl\r\n\r\nbobby\r\n4\r\n"));
    // Nothing but the account file is left in the folder.
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"data.bk"});
    ASSERT_TRUE(AccountFile::remove(nullptr, "nobody"));
    EXPECT_EQ(bytes(), QByteArray("admin\r\n579\r\ncarl\r\n\r\nbobby\r\n4\r\n"));
}

TEST_F(AccountFileTest, RemoveWritesBareLineEndsBackAsCrLf) {
    write("admin\n579\nbob\n1\n");
    ASSERT_TRUE(AccountFile::remove(nullptr, "bob"));
    EXPECT_EQ(bytes(), QByteArray("admin\r\n579\r\n"));
}

TEST_F(AccountFileTest, AMissingFileIsReportedInsteadOfReadAsEmpty) {
    EXPECT_FALSE(AccountFile::read(nullptr));
    EXPECT_FALSE(AccountFile::append(nullptr, "bob", "1"));
    EXPECT_FALSE(AccountFile::remove(nullptr, "bob"));
    EXPECT_FALSE(QFile::exists(AccountFile::path()));
    ASSERT_EQ(m_boxes.count(), 3);
    for (const QString& text : m_boxes.texts())
        EXPECT_TRUE(text.contains(QStringLiteral("不存在")));
}

// Runs `check` in a child process without the right to write the scratch folder (as the
// user "nobody" when the tests run as root, which no mode bit would stop) and returns its
// exit code.
int runWithoutWriteAccess(const QString& folder, const std::function<int()>& check) {
    const QByteArray path = QFile::encodeName(folder);
    if (::chmod(path.constData(), 0755) != 0) return 100;
    const pid_t pid = ::fork();
    if (pid < 0) return 101;
    if (pid == 0) {
        if (::getuid() == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(102);
        } else if (::chmod(path.constData(), 0555) != 0) {
            ::_exit(103);
        }
        ::_exit(check());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::chmod(path.constData(), 0755);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 104;
}

TEST_F(AccountFileTest, AnUnwritableProgramFolderIsNamedInTheMessage) {
    const QString folder = m_dir.path();
    const int created = runWithoutWriteAccess(folder, [&] {
        ScriptedMessageBoxes boxes;
        if (AccountFile::ensure(nullptr)) return 1;
        if (QFile::exists(AccountFile::path())) return 2;
        if (boxes.count() != 1) return 3;
        const QString text = boxes.texts()[0];
        if (!text.contains(QStringLiteral("不可写")) || !text.contains(folder)) return 4;
        return 0;
    });
    EXPECT_EQ(created, 0);

    write("admin\r\n579\r\nbob\r\n1\r\n");
    ::chmod(QFile::encodeName(AccountFile::path()).constData(), 0644);
    const int removed = runWithoutWriteAccess(folder, [&] {
        ScriptedMessageBoxes boxes;
        if (AccountFile::remove(nullptr, "bob")) return 1;
        if (boxes.count() != 1 || !boxes.texts()[0].contains(QStringLiteral("不可写"))) return 2;
        return 0;
    });
    EXPECT_EQ(removed, 0);
    EXPECT_EQ(bytes(), QByteArray("admin\r\n579\r\nbob\r\n1\r\n"));
}

}  // namespace
