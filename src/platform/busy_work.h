#pragma once

#include <QString>
#include <functional>

class QWidget;

// Runs `work` on a thread of its own while the GUI thread goes on: the windows keep
// repainting, a small box owned by `owner` shows `text` and takes the operator's input
// meanwhile (it cannot be closed), and the cursor shows that the program is busy. Returns
// once `work` is done, so the caller goes on as after a call made in place. GUI thread.
void RunWithBusyBox(QWidget* owner, const QString& text, std::function<void()> work);
