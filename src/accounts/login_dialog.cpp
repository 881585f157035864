#include "accounts/login_dialog.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>

#include "accounts/account_file.h"
#include "platform/gbk_codec.h"
#include "platform/message_box.h"
#include "state/test_state.h"

namespace {

// The list keeps its names in alphabetical order: letters without regard to case, Chinese
// names in GBK order (which is pinyin order for the common characters).
QByteArray sortKey(const QByteArray& raw) {
    QByteArray key = raw;
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

}  // namespace

CLoginDlg::CLoginDlg(QWidget* parent) : IdDialog(parent, QStringLiteral("登陆系统"), 187, 100) {
    auto* frame = new QGroupBox(this);
    frame->setGeometry(du(7, 7, 173, 68));

    auto* users = bind(IdUser, new QComboBox(this));
    users->setEditable(false);
    users->setGeometry(du(75, 24, 82, 14));
    users->setMaxVisibleItems(6);
    auto* userLabel = new QLabel(QStringLiteral("用户名："), this);
    userLabel->setGeometry(du(28, 27, 46, 10));
    userLabel->setBuddy(users);

    auto* password = bind(IdPassword, new QLineEdit(this));
    password->setEchoMode(QLineEdit::Password);
    password->setGeometry(du(75, 49, 81, 14));
    auto* passwordLabel = new QLabel(QStringLiteral("密  码："), this);
    passwordLabel->setGeometry(du(27, 52, 46, 10));
    passwordLabel->setBuddy(password);

    addOkCancel(30, 104, 79);

    const auto records = AccountFile::read(parent);
    if (!records) return;
    if (records->isEmpty()) {
        // Nobody could log in: say so instead of showing an empty list.
        MessageBox::show(parent,
                         QStringLiteral("用户文件 %1 中没有任何用户，无法登陆。\n"
                                        "请删除该文件，新建实验时程序会重新建立默认用户 admin。")
                             .arg(QDir::toNativeSeparators(AccountFile::path())),
                         MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Exclamation);
        return;
    }
    m_loaded = true;
    // Each entry shows the name's value and keeps its raw line, which the login compares.
    QList<AccountLine> names;
    for (const AccountRecord& record : *records) names.append(record.name);
    std::stable_sort(names.begin(), names.end(), [](const AccountLine& a, const AccountLine& b) {
        const QByteArray ka = sortKey(a.raw), kb = sortKey(b.raw);
        return ka != kb ? ka < kb : a.raw < b.raw;
    });
    for (const AccountLine& name : names) users->addItem(gbk::decode(name.value), name.raw);
    if (users->count() > 0) users->setCurrentIndex(0);
    password->setFocus();
}

int CLoginDlg::exec() { return m_loaded ? IdDialog::exec() : QDialog::Rejected; }

void CLoginDlg::accept() {
    auto* users = static_cast<QComboBox*>(item(IdUser));
    auto* password = static_cast<QLineEdit*>(item(IdPassword));
    if (users->currentIndex() < 0) return;
    const QByteArray rawName = users->currentData().toByteArray();
    const QString typed = password->text();

    const auto records = AccountFile::read(this);
    if (!records) return;
    // A password GBK cannot hold matches no stored password.
    const auto typedBytes = gbk::encode(typed);
    LoginCheck check = CheckLogin(*records, rawName, typedBytes.value_or(QByteArray()));
    if (check == LoginCheck::Accepted && !typedBytes) check = LoginCheck::WrongPassword;

    switch (check) {
        case LoginCheck::Accepted:
            g_strCurrentPassword = typed;
            g_strCurrentUser = users->currentText();  // the name's value
            IdDialog::accept();
            break;
        case LoginCheck::WrongPassword:
            MessageBox::show(this, QStringLiteral("密码错误,请重新输入"),
                             QStringLiteral("密码错误"), MessageBox::Buttons::Ok,
                             MessageBox::Icon::Exclamation);
            break;
        case LoginCheck::NoSuchName:  // the file changed since the list was filled
            break;
    }
}
