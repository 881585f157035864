#include "app/support_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "app/program_pictures.h"

CSupportDlg::CSupportDlg(QWidget* parent) : IdDialog(parent, QStringLiteral("关于 Zel"), 280, 187) {
    auto* ok = bind(1, new QPushButton(QStringLiteral("OK"), this));
    ok->setGeometry(du(223, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CSupportDlg::accept);

    auto* icon = new QLabel(this);
    icon->setGeometry(du(22, 23, 21, 21));
    icon->setPixmap(ProgramIcon().pixmap(icon->size()));

    auto addLabel = [this](const QString& text, const QRect& rect) {
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        label->setGeometry(rect);
        return label;
    };
    addLabel(QStringLiteral("Zel 1.0 版"), du(51, 15, 119, 8));
    addLabel(QStringLiteral("版权所有 (C) Zel 保留所有权利"), du(51, 31, 119, 8));
    // Seven blank lines, kept for contact details.
    const QRect blanks[] = {du(29, 61, 97, 8),   du(29, 77, 209, 8),  du(29, 93, 69, 8),
                            du(29, 109, 113, 8), du(29, 125, 109, 8), du(29, 141, 97, 8),
                            du(29, 157, 125, 8)};
    for (const QRect& rect : blanks) addLabel(QStringLiteral(" "), rect);
}
