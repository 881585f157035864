#include "app/child_frame.h"

#include <QMouseEvent>

#include "app/program_pictures.h"
#include "monitor/testclass.h"

CChildFrame::CChildFrame(Testclass* form) {
    setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowMinMaxButtonsHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(TestWindowIcon());
    setWindowTitle(QString());
    setWidget(form);
}

Testclass* CChildFrame::form() const { return qobject_cast<Testclass*>(widget()); }

void CChildFrame::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }
