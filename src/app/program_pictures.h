#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own pictures, kept as resources.
QIcon ProgramIcon();          // the program and its about box
QIcon TestWindowIcon();       // the test window
QPixmap BackgroundPicture();  // 1280 x 800, stretched over the main window
