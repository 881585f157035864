#include "support/scripted_print_dialog.h"

#include <QPrinter>

#include "platform/print_dialog.h"

ScriptedPrintDialog::ScriptedPrintDialog(QString pdfPath) : m_path(std::move(pdfPath)) {
    PrintDialog::setResponder([this](QWidget*, QPrinter& printer) {
        ++m_shown;
        if (m_path.isEmpty()) return false;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(m_path);
        return true;
    });
}

ScriptedPrintDialog::~ScriptedPrintDialog() { PrintDialog::setResponder(nullptr); }
