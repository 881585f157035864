#pragma once

#include <QString>

// Answers every print dialog by sending the job to a PDF file, as a printer that prints to a
// file does, so a test can read what would have come out of the printer; "" cancels.
class ScriptedPrintDialog {
  public:
    explicit ScriptedPrintDialog(QString pdfPath);
    ~ScriptedPrintDialog();

    int shown() const { return m_shown; }

  private:
    QString m_path;
    int m_shown = 0;
};
