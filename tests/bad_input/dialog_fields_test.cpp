// Every field of the parameter, login, exit and user dialogs against what an operator can
// type or paste: each case is either taken exactly or refused with a Chinese message, and a
// refusal changes nothing.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QVariant>

#include "accounts/account_file.h"
#include "accounts/exit_dialog.h"
#include "accounts/login_dialog.h"
#include "accounts/user_dialog.h"
#include "bad_input/bad_input_cases.h"
#include "export/penetrability.h"
#include "platform/gbk_codec.h"
#include "platform/program_folder.h"
#include "run/param_dialog.h"
#include "state/test_state.h"
#include "support/scripted_dialogs.h"

namespace {

using namespace BadInput;

QLineEdit* Edit(IdDialog& d, int id) { return static_cast<QLineEdit*>(d.item(id)); }
void PressOk(IdDialog& d) { static_cast<QPushButton*>(d.item(1))->click(); }

// --- 参数设置 ---

struct ParamCase {
    const char* what;
    int field;
    QString text;
    QString refusal;  // the whole message; empty when the text is taken
    QVariant stored;  // what the shared parameter then holds (the text itself when null)
};

QString ControlRefusal(const char* label) {
    return QStringLiteral("“%1”中不能含有制表符、换行符等控制字符，请修改。")
        .arg(QString::fromUtf8(label));
}
QString GbkRefusal(const char* label) {
    return QStringLiteral("“%1”中含有无法保存的字符（只能使用 GBK 字符集中的字符），请修改。")
        .arg(QString::fromUtf8(label));
}
std::vector<ParamCase> IntegerCases(int field) {
    return {
        {"empty", field, "", kNotInteger, {}},
        {"blanks only", field, "   ", kNotInteger, {}},
        {"largest", field, "2147483647", "", 2147483647},
        {"smallest", field, "-2147483648", "", INT32_MIN},
        {"one above the largest", field, "2147483648", kNotInteger, {}},
        {"one below the smallest", field, "-2147483649", kNotInteger, {}},
        {"10 000 nines", field, Huge(u'9'), kNotInteger, {}},
        {"plus sign", field, "+5", "", 5},
        {"blanks around", field, " \t7\t ", "", 7},
        {"hexadecimal", field, "0x10", kNotInteger, {}},
        {"exponent", field, "1e3", kNotInteger, {}},
        {"decimal point", field, "1.5", kNotInteger, {}},
        {"full-width digit", field, QStringLiteral("５"), kNotInteger, {}},
        {"emoji", field, kEmoji, kNotInteger, {}},
        {"Korean", field, kKorean, kNotInteger, {}},
        {"line break", field, "\n7", kNotInteger, {}},
        {"control character", field, "7\x01", kNotInteger, {}},
    };
}

std::vector<ParamCase> TextCases(int field, const char* label) {
    std::vector<ParamCase> cases = {
        {"empty", field, "", "", {}},
        {"10 000 characters", field, Huge(), "", {}},
        {"Chinese and blanks", field, QStringLiteral(" 某某 检测 "), "", {}},
        {"emoji", field, QStringLiteral("张") + kEmoji, GbkRefusal(label), {}},
        {"Korean", field, kKorean, GbkRefusal(label), {}},
        {"tab", field, kTab, ControlRefusal(label), {}},
        {"line break", field, kNewline, ControlRefusal(label), {}},
        {"control character", field, kSoh, ControlRefusal(label), {}},
        {"10 000 characters and an emoji", field, Huge() + kEmoji, GbkRefusal(label), {}},
        // "+" and ":" are the data file's separators, yet the file keeps them as typed.
        {"separators", field, "a+b:c", "", {}},
    };
    return cases;
}

std::vector<ParamCase> AllParamCases() {
    std::vector<ParamCase> all;
    for (auto cases :
         {IntegerCases(CParamDlg::IdTestMinutes), IntegerCases(CParamDlg::IdRecordInterval),
          IntegerCases(CParamDlg::IdDiameter), TextCases(CParamDlg::IdVoltage, "输入电压"),
          TextCases(CParamDlg::IdTester, "测试人"),
          TextCases(CParamDlg::IdOrganisation, "测试单位")}) {
        all.insert(all.end(), cases.begin(), cases.end());
    }
    // Zero passes as an integer but not as an interval or a duration.
    all.push_back({"10 000 zeros",
                   CParamDlg::IdRecordInterval,
                   Huge(u'0'),
                   QStringLiteral("间隔时间错误!"),
                   {}});
    all.push_back({"zero", CParamDlg::IdTestMinutes, "-0", QStringLiteral("试验时间错误!"), {}});
    return all;
}

// The shared parameter behind a field.
QVariant Shared(int field) {
    switch (field) {
        case CParamDlg::IdTestMinutes:
            return g_nTestMinutes;
        case CParamDlg::IdRecordInterval:
            return g_nRecordInterval;
        case CParamDlg::IdDiameter:
            return g_nDiameter;
        case CParamDlg::IdVoltage:
            return g_strVoltage;
        case CParamDlg::IdTester:
            return g_strTester;
        case CParamDlg::IdOrganisation:
            return g_strOrganisation;
    }
    return {};
}

class ParamDialogInput : public ::testing::Test {
  protected:
    void SetUp() override { ResetTestStateForTests(); }
    // Parameters of an earlier test.
    static void setEarlier() {
        g_strVoltage = "48";
        g_nTestMinutes = 90;
        g_nRecordInterval = 9;
        g_nDiameter = 95;
        g_strTester = "old";
        g_strOrganisation = "lab";
        g_strSpecimenNo[0] = "S1";
        g_strLastCharge[2] = "12.5(C)";
    }
    static void expectEarlierKept(const std::string& where) {
        EXPECT_EQ(g_strVoltage, "48") << where;
        EXPECT_EQ(g_nTestMinutes, 90) << where;
        EXPECT_EQ(g_nRecordInterval, 9) << where;
        EXPECT_EQ(g_nDiameter, 95) << where;
        EXPECT_EQ(g_strTester, "old") << where;
        EXPECT_EQ(g_strOrganisation, "lab") << where;
        EXPECT_EQ(g_strSpecimenNo[0], "S1") << where;
        EXPECT_EQ(g_strLastCharge[2], "12.5(C)") << where;
    }
    ScriptedMessageBoxes m_boxes;
};

TEST_F(ParamDialogInput, EveryFieldTakesGoodTextExactlyAndRefusesTheRestChangingNothing) {
    for (const ParamCase& c : AllParamCases()) {
        const std::string where = std::string(c.what) + " in field " + std::to_string(c.field);
        setEarlier();
        m_boxes.clear();
        CParamDlg dialog;
        Edit(dialog, c.field)->setText(c.text);
        ASSERT_EQ(Edit(dialog, c.field)->text(), c.text) << where;  // the field holds it all
        PressOk(dialog);
        if (c.refusal.isEmpty()) {
            EXPECT_EQ(dialog.result(), QDialog::Accepted) << where;
            // A diameter outside 50–150 mm is taken once the operator confirms it.
            const QStringList asked =
                c.field == CParamDlg::IdDiameter && !DiameterIsPlausible(Shared(c.field).toInt())
                    ? QStringList{DiameterWarning(Shared(c.field).toInt())}
                    : QStringList{};
            EXPECT_EQ(m_boxes.texts(), asked) << where;
            const QVariant expected = c.stored.isNull() ? QVariant(c.text) : c.stored;
            EXPECT_EQ(Shared(c.field), expected) << where;
        } else {
            EXPECT_NE(dialog.result(), QDialog::Accepted) << where;
            EXPECT_EQ(m_boxes.texts(), QStringList{c.refusal}) << where;
            expectEarlierKept(where);
        }
    }
}

// A diameter no specimen has is questioned at entry: Cancel leaves the dialog open on it.
TEST_F(ParamDialogInput, AnImplausibleDiameterIsConfirmedOrCorrected) {
    for (const char* typed : {"10", "0", "-100", "151", "49"}) {
        setEarlier();
        m_boxes.clear();
        m_boxes.answer({MessageBox::Cancel});
        CParamDlg dialog;
        Edit(dialog, CParamDlg::IdDiameter)->setText(typed);
        PressOk(dialog);
        EXPECT_NE(dialog.result(), QDialog::Accepted) << typed;
        EXPECT_EQ(m_boxes.texts(), QStringList{DiameterWarning(QString(typed).toInt())}) << typed;
        expectEarlierKept(typed);
    }
    for (const char* typed : {"50", "100", "150"}) {
        m_boxes.clear();
        CParamDlg dialog;
        Edit(dialog, CParamDlg::IdDiameter)->setText(typed);
        PressOk(dialog);
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << typed;
        EXPECT_EQ(m_boxes.count(), 0) << typed;
    }
}

// --- 登陆系统, 退出系统, 用户管理 ---

class AccountDialogInput : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ProgramFolder::setForTests(m_dir.path());
        ResetTestStateForTests();
        write("admin\r\n579\r\n");
    }
    void TearDown() override { ProgramFolder::setForTests(QString()); }

    void write(const QByteArray& content) {
        QFile file(AccountFile::path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(content), content.size());
    }
    static QByteArray bytes() {
        QFile file(AccountFile::path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir m_dir;
    ScriptedMessageBoxes m_boxes;
};

// Passwords that match no stored one: refused at the login and at the exit alike.
const QList<QString> kWrongPasswords = {
    "",      Huge(u'5'), "579" + Huge(u'5'),       kEmoji, kKorean, "\t579",
    "579\n", "579\x01",  QStringLiteral("５７９"), " 579",
};

TEST_F(AccountDialogInput, LoginRefusesEveryWrongPasswordAndKeepsNobodyLoggedIn) {
    for (const QString& typed : kWrongPasswords) {
        m_boxes.clear();
        CLoginDlg dialog;
        Edit(dialog, CLoginDlg::IdPassword)->setText(typed);
        PressOk(dialog);
        EXPECT_NE(dialog.result(), QDialog::Accepted) << typed.left(20).toStdString();
        EXPECT_EQ(m_boxes.texts(), QStringList{QStringLiteral("密码错误,请重新输入")});
        EXPECT_TRUE(g_strCurrentUser.isEmpty());
        EXPECT_TRUE(g_strCurrentPassword.isEmpty());
    }
    EXPECT_EQ(bytes(), QByteArray("admin\r\n579\r\n"));
}

TEST_F(AccountDialogInput, ExitRefusesEveryOtherPassword) {
    g_strCurrentUser = "admin";
    g_strCurrentPassword = "579";
    for (const QString& typed : kWrongPasswords) {
        m_boxes.clear();
        CExitDlg dialog;
        Edit(dialog, CExitDlg::IdPassword)->setText(typed);
        PressOk(dialog);
        EXPECT_NE(dialog.result(), QDialog::Accepted) << typed.left(20).toStdString();
        EXPECT_EQ(m_boxes.texts(), QStringList{QStringLiteral("密码错误,请重新输入")});
    }
}

TEST_F(AccountDialogInput, A10000CharacterPasswordLogsInAndExits) {
    const QString password = Huge(u'密');
    ASSERT_TRUE(AccountFile::append(nullptr, "long", password));
    CLoginDlg dialog;
    auto* users = static_cast<QComboBox*>(dialog.item(CLoginDlg::IdUser));
    users->setCurrentIndex(users->findText("long"));
    Edit(dialog, CLoginDlg::IdPassword)->setText(password);
    PressOk(dialog);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(g_strCurrentUser, "long");
    CExitDlg exit;
    Edit(exit, CExitDlg::IdPassword)->setText(password);
    PressOk(exit);
    EXPECT_EQ(exit.result(), QDialog::Accepted);
    EXPECT_EQ(m_boxes.count(), 0);
}

struct UserCase {
    const char* what;
    QString name, password, repeat;
    QString refusal;  // the start of the message; empty when the account is added
};

QString StoreRefusal(const char* what, bool control) {
    return QString::fromUtf8(what) + (control ? QStringLiteral("中不能含有换行符、制表符等控制字符")
                                              : QStringLiteral("中含有无法保存的字符"));
}

TEST_F(AccountDialogInput, UserDialogAddsGoodAccountsWhole) {
    const UserCase cases[] = {
        {"10 000-character name", Huge(u'名'), "pw", "pw", ""},
        {"10 000-character password", "bob", Huge(u'密'), Huge(u'密'), ""},
        {"empty password", "guest", "", "", ""},
        {"blanks kept", " a b ", " 1 ", " 1 ", ""},
    };
    for (const UserCase& c : cases) {
        m_boxes.clear();
        const QByteArray before = bytes();
        CUserDlg dialog;
        Edit(dialog, CUserDlg::IdName)->setText(c.name);
        Edit(dialog, CUserDlg::IdPassword)->setText(c.password);
        Edit(dialog, CUserDlg::IdRepeat)->setText(c.repeat);
        static_cast<QPushButton*>(dialog.item(CUserDlg::IdAdd))->click();
        EXPECT_EQ(m_boxes.count(), 0) << c.what;
        EXPECT_EQ(bytes(),
                  before + AccountRecordBytes(*gbk::encode(c.name), *gbk::encode(c.password)))
            << c.what;
    }
}

TEST_F(AccountDialogInput, UserDialogRefusesBadAccountsWritingNothing) {
    const UserCase cases[] = {
        {"empty name", "", "1", "1", QStringLiteral("请输出用户名")},
        {"emoji name", QStringLiteral("张") + kEmoji, "1", "1", StoreRefusal("用户名", false)},
        {"Korean name", kKorean, "1", "1", StoreRefusal("用户名", false)},
        {"name with a tab", kTab, "1", "1", StoreRefusal("用户名", true)},
        {"name with a line break", kNewline, "1", "1", StoreRefusal("用户名", true)},
        {"name with a CR", "a\rb", "1", "1", StoreRefusal("用户名", true)},
        {"name with a control character", kSoh, "1", "1", StoreRefusal("用户名", true)},
        {"10 000 characters and an emoji", Huge() + kEmoji, "1", "1",
         StoreRefusal("用户名", false)},
        {"emoji password", "bob", kEmoji, kEmoji, StoreRefusal("密码", false)},
        {"Korean password", "bob", kKorean, kKorean, StoreRefusal("密码", false)},
        {"password with a tab", "bob", kTab, kTab, StoreRefusal("密码", true)},
        {"password with a line break", "bob", kNewline, kNewline, StoreRefusal("密码", true)},
        {"password with a control character", "bob", kSoh, kSoh, StoreRefusal("密码", true)},
        {"repeat differs", "bob", "1", "2", QStringLiteral("两次输入密码不同")},
        {"repeat empty", "bob", "1", "", QStringLiteral("两次输入密码不同")},
        {"repeat differs at its end", "bob", Huge(u'1'), Huge(u'1').left(9999) + "2",
         QStringLiteral("两次输入密码不同")},
    };
    const QByteArray before = bytes();
    for (const UserCase& c : cases) {
        m_boxes.clear();
        CUserDlg dialog;
        Edit(dialog, CUserDlg::IdName)->setText(c.name);
        Edit(dialog, CUserDlg::IdPassword)->setText(c.password);
        Edit(dialog, CUserDlg::IdRepeat)->setText(c.repeat);
        static_cast<QPushButton*>(dialog.item(CUserDlg::IdAdd))->click();
        ASSERT_EQ(m_boxes.count(), 1) << c.what;
        EXPECT_TRUE(m_boxes.texts()[0].startsWith(c.refusal))
            << c.what << ": " << m_boxes.texts()[0].toStdString();
        EXPECT_EQ(bytes(), before) << c.what;
    }
}

}  // namespace
