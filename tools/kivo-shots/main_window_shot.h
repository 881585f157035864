#pragma once

#include <QImage>
#include <QSize>
#include <functional>

class Testclass;

// The main window at `size` (the whole screen of a lab machine) with the pictures' test
// window opened by "新建实验" and two hours into the test; `arrange` may then set the
// window up for the picture (focus, scrolling) before it is taken.
QImage RenderMainWindowOfSize(QSize size, const std::function<void(Testclass&)>& arrange);
