#pragma once

#include <QScrollArea>

// A frameless scroll area around one widget that keeps its minimum size: where the area is
// large enough the widget fills it exactly, as if it stood there on its own; where it is
// smaller, scroll bars appear in the direction that lacks room. Whenever keyboard focus
// moves to a control of the widget (Tab, a mnemonic, a click, the program), the control is
// scrolled into view.
class FocusScrollArea : public QScrollArea {
    Q_OBJECT

  public:
    explicit FocusScrollArea(QWidget* content, QWidget* parent = nullptr);

  private:
    void focusMoved(QWidget* now);
};
