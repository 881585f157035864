#include "app/child_frame.h"

#include <QCloseEvent>
#include <QMouseEvent>

#include "app/program_pictures.h"
#include "monitor/testclass.h"
#include "platform/focus_scroll_area.h"

CChildFrame::CChildFrame(Testclass* form) {
    // Caption only: with a minimise or maximise box Qt also shows a close box and the
    // window's system menu in the menu bar while the window is maximised.
    setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(TestWindowIcon());
    setWindowTitle(QString());
    setSystemMenu(nullptr);
    // The form keeps its size; on a small screen the window scrolls to every control.
    setWidget(new FocusScrollArea(form));
}

void CChildFrame::closeFromForm() {
    m_closeAllowed = true;
    close();
}

void CChildFrame::closeEvent(QCloseEvent* event) {
    if (!m_closeAllowed) {
        event->ignore();
        return;
    }
    QMdiSubWindow::closeEvent(event);
}

Testclass* CChildFrame::form() const {
    auto* area = qobject_cast<QScrollArea*>(widget());
    return area ? qobject_cast<Testclass*>(area->widget()) : nullptr;
}

void CChildFrame::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }
