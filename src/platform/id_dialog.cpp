#include "platform/id_dialog.h"

#include "platform/song_font.h"

IdDialog::IdDialog(QWidget* parent, const QString& title, int widthDu, int heightDu)
    : QDialog(parent) {
    setWindowTitle(title);
    setFont(songFont(12));  // 9 points at 96 dpi
    setFixedSize(du(widthDu), du(heightDu));
}

QWidget* IdDialog::item(int id) const {
    auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

QRect IdDialog::du(int x, int y, int w, int h) { return QRect(du(x), du(y), du(w), du(h)); }

int IdDialog::du(int v) { return v * 3 / 2; }
