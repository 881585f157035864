#include "accounts/password_check_dialog.h"

#include <QLineEdit>

#include "platform/message_box.h"
#include "state/test_state.h"

void PasswordCheckDialog::accept() {
    if (static_cast<QLineEdit*>(item(IdPassword))->text() == g_strCurrentPassword) {
        IdDialog::accept();
        return;
    }
    MessageBox::show(this, QStringLiteral("密码错误,请重新输入"), QStringLiteral("密码错误"),
                     MessageBox::Buttons::Ok, MessageBox::Icon::Exclamation);
}
