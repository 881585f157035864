#include "app/child_frame.h"

#include <QCloseEvent>
#include <QMouseEvent>

#include "app/program_pictures.h"
#include "monitor/testclass.h"

CChildFrame::CChildFrame(Testclass* form) {
    setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowMinMaxButtonsHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(TestWindowIcon());
    setWindowTitle(QString());
    setSystemMenu(nullptr);
    setWidget(form);
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

Testclass* CChildFrame::form() const { return qobject_cast<Testclass*>(widget()); }

void CChildFrame::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }
