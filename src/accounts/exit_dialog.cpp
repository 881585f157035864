#include "accounts/exit_dialog.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "platform/message_box.h"
#include "state/test_state.h"

CExitDlg::CExitDlg(QWidget* parent) : PasswordCheckDialog(parent, QStringLiteral("退出系统"), 187, 91) {
    auto* frame = new QGroupBox(this);
    frame->setGeometry(du(7, 7, 173, 58));

    auto* password = bind(IdPassword, new QLineEdit(this));
    password->setEchoMode(QLineEdit::Password);
    password->setGeometry(du(75, 32, 78, 14));
    auto* label = new QLabel(QStringLiteral("密  码："), this);
    label->setGeometry(du(29, 35, 46, 10));
    label->setBuddy(password);

    addOkCancel(27, 105, 70);
    password->setFocus();
}

bool RunExitDialog(QWidget* owner) {
    CExitDlg dialog(owner);
    return dialog.exec() == QDialog::Accepted;
}
