#pragma once

#include <QTableWidgetItem>

// A cell of the channel table or a history list: centred text, selectable, not editable.
inline QTableWidgetItem* CentredCell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}
