#pragma once

#include "accounts/password_check_dialog.h"

// "退出系统": OK closes it only when the password typed at the last login is entered.
class CExitDlg : public PasswordCheckDialog {
    Q_OBJECT

  public:
    explicit CExitDlg(QWidget* parent = nullptr);
};

// Shows the exit-password dialog; true when it ends with OK.
bool RunExitDialog(QWidget* owner);
