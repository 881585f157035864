#include "history/delete_password_dialog.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/message_box.h"
#include "state/test_state.h"

CDeletePasswordDlg::CDeletePasswordDlg(QWidget* parent)
    : PasswordCheckDialog(parent, QStringLiteral("删除实验"), 187, 91) {
    auto* frame = new QGroupBox(this);
    frame->setGeometry(du(7, 7, 173, 58));

    auto* user = new QLabel(QStringLiteral("用  户：%1").arg(g_strCurrentUser), this);
    user->setGeometry(du(29, 17, 130, 10));
    auto* password = bind(IdPassword, new QLineEdit(this));
    password->setEchoMode(QLineEdit::Password);
    password->setGeometry(du(75, 38, 78, 14));
    password->setAccessibleName(QStringLiteral("密码"));
    auto* label = new QLabel(QStringLiteral("密  码(&P)："), this);
    label->setGeometry(du(29, 41, 46, 10));
    label->setBuddy(password);

    const auto [ok, cancel] = addOkCancel(27, 105, 70);
    setTabOrder(password, ok);
    setTabOrder(ok, cancel);
    password->setFocus();
}

