#include "app/background_wnd.h"

#include <QPaintEvent>
#include <QPainter>

#include "app/program_pictures.h"

CBackgroundWnd::CBackgroundWnd(QWidget* parent) : QMdiArea(parent), m_bitmap(BackgroundPicture()) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void CBackgroundWnd::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.setClipRect(event->rect());
    painter.drawPixmap(viewport()->rect(), m_bitmap);
}

void CBackgroundWnd::resizeEvent(QResizeEvent* event) {
    QMdiArea::resizeEvent(event);
    // The whole picture is stretched anew, not only the uncovered strip.
    viewport()->update();
}
