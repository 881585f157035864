#pragma once

#include "platform/id_dialog.h"

// "删除实验": the logged-in user confirms a deletion with the password of the last login;
// OK closes it only when that password is entered.
class CDeletePasswordDlg : public IdDialog {
    Q_OBJECT

  public:
    static constexpr int IdPassword = 1002;
    explicit CDeletePasswordDlg(QWidget* parent = nullptr);
    void accept() override;
};
