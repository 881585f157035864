#pragma once

#include "platform/id_dialog.h"

// "登陆系统": the user picks a name from the account file and types its password. OK
// closes the dialog only for the right password, with g_strCurrentUser and
// g_strCurrentPassword set.
class CLoginDlg : public IdDialog {
    Q_OBJECT

  public:
    static constexpr int IdUser = 1000;      // drop-down list of the names, sorted
    static constexpr int IdPassword = 1001;  // password edit

    explicit CLoginDlg(QWidget* parent = nullptr);

    // Ends at once with Rejected when the account file could not be read or holds no
    // account (the reason has been shown).
    int exec() override;
    void accept() override;

  private:
    bool m_loaded = false;
};
