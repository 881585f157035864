#pragma once

#include <QMdiSubWindow>

class Testclass;

// The test window: a child of the main window whose only widget is the test form. It has
// no close button and no system menu of its own; the form's exit command closes it.
class CChildFrame : public QMdiSubWindow {
    Q_OBJECT

public:
    explicit CChildFrame(Testclass* form);

    Testclass* form() const;

protected:
    // A double-click on the caption would maximise or restore the window (or, on its icon,
    // close it): swallowed.
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};
