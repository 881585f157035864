#pragma once

#include <QImage>

#include "platform/message_box.h"

// One picture of the documentation: a window of the program in a believable state,
// rendered offscreen. Each shot builds its own state and leaves nothing behind.
struct Shot {
    const char* name;  // on the command line
    const char* file;  // under the output folder
    QImage (*render)();
};

// The test window about two hours into a six-hour test, channel 1 shown.
QImage RenderTestForm();
// The main window at 1280x800 with that test window open in it.
QImage RenderMainWindow();
// The main window on a 1100x620 screen, the test window scrolled down to its last button.
QImage RenderSmallScreen();
// The main window on a 1280x720 screen, where the test window just fits.
QImage RenderLaptopScreen();
// The login dialog with the password typed.
QImage RenderLogin();
// The parameter dialog filled in for a first one-hour test.
QImage RenderParameters();
// "历史实验" over six weeks of a lab's tests, the second one selected.
QImage RenderHistoryWindow();
// The main window at 1280x960 with the newest of those tests opened in view mode.
QImage RenderHistoryView();
// The question after the login of "新建实验" when a test's program died, over the main window.
QImage RenderRecoveryQuestion();

// Answers a box OK and says so on standard error: no box may wait for an answer here.
MessageBox::Result AnswerOk(QWidget* owner, const MessageBox::Request& request);
