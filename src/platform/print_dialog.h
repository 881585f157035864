#pragma once

#include <functional>

class QPrinter;
class QWidget;

// The standard print dialog of the reports, behind one seam so tests can answer it.
namespace PrintDialog {

// Shows the print dialog for `printer` (GUI thread); true when the operator chose to print,
// with the printer set up as chosen.
bool choose(QWidget* owner, QPrinter& printer);

// Replaces the real dialog (tests); an empty responder restores it.
using Responder = std::function<bool(QWidget* owner, QPrinter& printer)>;
void setResponder(Responder responder);

}  // namespace PrintDialog
