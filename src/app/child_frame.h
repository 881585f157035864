#pragma once

#include <QMdiSubWindow>

class Testclass;

// The test window: a child of the main window that shows the test form, scrolling where the
// window is smaller than the form. It has
// no close button and no system menu of its own; only the form's exit command closes it
// (through closeFromForm), after its checks and the password.
class CChildFrame : public QMdiSubWindow {
    Q_OBJECT

  public:
    explicit CChildFrame(Testclass* form);

    Testclass* form() const;
    // Closes the window and so destroys the form.
    void closeFromForm();

  protected:
    // Every other close request is refused, whatever Qt may offer for it (for a window with
    // a minimise box, a double-click on the icon it puts in the menu bar closes it).
    void closeEvent(QCloseEvent* event) override;
    // A double-click on the caption would maximise or restore the window (or, on its icon,
    // close it): swallowed.
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    bool m_closeAllowed = false;
};
