#include "monitor/exit_confirm.h"

#include "accounts/exit_dialog.h"

namespace {
// GUI thread only.
ExitConfirmer g_confirmer;
}  // namespace

bool ConfirmExit(QWidget* owner) {
    ExitConfirmer confirmer = g_confirmer;  // a copy: the confirmer may replace itself
    return confirmer ? confirmer(owner) : RunExitDialog(owner);
}

void SetExitConfirmer(ExitConfirmer confirmer) { g_confirmer = std::move(confirmer); }
