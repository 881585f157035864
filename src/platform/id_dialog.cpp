#include "platform/id_dialog.h"

#include <QPushButton>

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

std::pair<QPushButton*, QPushButton*> IdDialog::addOkCancel(int okX, int cancelX, int y,
                                                            const QString& okText) {
    auto* ok = bind(1, new QPushButton(okText, this));
    ok->setGeometry(du(okX, y, 50, 14));
    ok->setDefault(true);
    auto* cancel = bind(2, new QPushButton(QStringLiteral("取消"), this));
    cancel->setGeometry(du(cancelX, y, 50, 14));
    // accept() and reject() are virtual: a dialog's own checks run.
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    return {ok, cancel};
}
