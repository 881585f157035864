#pragma once

#include <QMdiArea>
#include <QPixmap>

// The main window's client area: hosts the test window and paints the background picture
// stretched over the whole area, distorted if need be, wherever no window covers it.
class CBackgroundWnd : public QMdiArea {
    Q_OBJECT

  public:
    explicit CBackgroundWnd(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QPixmap m_bitmap;
};
