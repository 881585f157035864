#include "platform/print_dialog.h"

#include <QPrintDialog>
#include <QPrinter>
#include <mutex>

namespace PrintDialog {
namespace {

std::mutex g_responderMutex;
Responder g_responder;

}  // namespace

bool choose(QWidget* owner, QPrinter& printer) {
    Responder responder;
    {
        std::lock_guard lock(g_responderMutex);
        responder = g_responder;
    }
    if (responder) return responder(owner, printer);
    QPrintDialog dialog(&printer, owner);
    dialog.setWindowTitle(QStringLiteral("打印试验报告"));
    // The report is made as a whole; page ranges and a selection do not apply.
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    return dialog.exec() == QDialog::Accepted;
}

void setResponder(Responder responder) {
    std::lock_guard lock(g_responderMutex);
    g_responder = std::move(responder);
}

}  // namespace PrintDialog
