#pragma once

#include <QDialog>
#include <QRect>
#include <map>
#include <utility>

class QPushButton;

// A dialog laid out from its template: positions in dialog units (1.5 pixels each way for
// the 9-point Song face), controls reached by their template ids.
class IdDialog : public QDialog {
  public:
    explicit IdDialog(QWidget* parent, const QString& title, int widthDu, int heightDu);

    // The control with template id `id`, or null.
    QWidget* item(int id) const;

    // Dialog units to pixels.
    static QRect du(int x, int y, int w, int h);
    static int du(int v);

  protected:
    // The default button (id 1, `okText`) at `okX` and "取消" (id 2) at `cancelX`, both 50x14
    // dialog units on row `y`, made in that order and wired to accept() and reject().
    std::pair<QPushButton*, QPushButton*> addOkCancel(int okX, int cancelX, int y,
                                                      const QString& okText = QStringLiteral("确定"));

    // Registers `widget` as control `id` and returns it.
    template <class W>
    W* bind(int id, W* widget) {
        m_items[id] = widget;
        return widget;
    }

  private:
    std::map<int, QWidget*> m_items;
};
