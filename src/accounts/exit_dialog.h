#pragma once

#include "platform/id_dialog.h"

// "退出系统": OK closes it only when the password typed at the last login is entered.
class CExitDlg : public IdDialog {
    Q_OBJECT

  public:
    static constexpr int IdPassword = 1002;

    explicit CExitDlg(QWidget* parent = nullptr);
    void accept() override;
};

// Shows the exit-password dialog; true when it ends with OK.
bool RunExitDialog(QWidget* owner);
