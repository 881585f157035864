#pragma once

#include <functional>

class QWidget;

// Asks for the logged-in user's exit password before the test window closes; true when the
// window may close (the password was right), false on Cancel.
bool ConfirmExit(QWidget* owner);

// Puts another confirmation in place (the exit-password dialog, or a stand-in in tests);
// an empty one restores the exit-password dialog.
using ExitConfirmer = std::function<bool(QWidget* owner)>;
void SetExitConfirmer(ExitConfirmer confirmer);
