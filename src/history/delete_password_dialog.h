#pragma once

#include "accounts/password_check_dialog.h"

// "删除实验": the logged-in user confirms a deletion with the password of the last login;
// OK closes it only when that password is entered.
class CDeletePasswordDlg : public PasswordCheckDialog {
    Q_OBJECT

  public:
    explicit CDeletePasswordDlg(QWidget* parent = nullptr);
};
