#pragma once

#include <QString>
#include <functional>

class QWidget;

// The save-file dialog of the exports, behind one seam so tests can answer it.
namespace FileDialog {

struct SaveRequest {
    QString filter;         // for example "*.bln"
    QString defaultSuffix;  // added when the name is typed without one, for example "bln"
    QString proposedName;   // file name proposed in the dialog
    bool confirmOverwrite = true;
    bool openExisting = false;  // an existing file to read instead of one to save
};

// Asks for a file to save to; an empty result means the operator cancelled. A chosen name
// without a suffix gets the default suffix. Callable from any thread.
QString getSaveFileName(QWidget* owner, const SaveRequest& request);

// Replaces the real dialog (tests); an empty responder restores it. It runs on the GUI thread.
using Responder = std::function<QString(QWidget* owner, const SaveRequest&)>;
void setResponder(Responder responder);

// The name rule on its own: `path` with ".suffix" added when its file name has no suffix.
QString withDefaultSuffix(const QString& path, const QString& suffix);

}  // namespace FileDialog
