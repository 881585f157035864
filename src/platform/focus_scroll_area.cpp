#include "platform/focus_scroll_area.h"

#include <QApplication>

FocusScrollArea::FocusScrollArea(QWidget* content, QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The scroll bars themselves take no focus: Tab goes from control to control.
    setFocusPolicy(Qt::NoFocus);
    setWidget(content);
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { focusMoved(now); });
}

void FocusScrollArea::focusMoved(QWidget* now) {
    QWidget* content = widget();
    if (now == nullptr || content == nullptr || now == content || !content->isAncestorOf(now))
        return;
    // A little room around the control shows its caption too; where the area is large
    // enough there is nothing to scroll, so nothing moves.
    ensureWidgetVisible(now, 20, 30);
}
