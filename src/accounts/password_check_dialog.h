#pragma once

#include "platform/id_dialog.h"

// A dialog that OK closes only when its password field holds the password typed at the last
// login; otherwise it says so and stays open.
class PasswordCheckDialog : public IdDialog {
  public:
    static constexpr int IdPassword = 1002;

    using IdDialog::IdDialog;
    void accept() override;
};
