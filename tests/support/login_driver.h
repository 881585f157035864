#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include "accounts/login_dialog.h"

// The login dialog driven through its real widgets.

// The names its list shows, in its order.
inline QStringList LoginNames(CLoginDlg& dialog) {
    auto* list = static_cast<QComboBox*>(dialog.item(CLoginDlg::IdUser));
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->itemText(i);
    return out;
}

// Picks `name` in a new login dialog, types `password` and presses "确定"; true when the
// dialog accepted the login.
inline bool LogIn(const QString& name, const QString& password) {
    CLoginDlg dialog;
    auto* list = static_cast<QComboBox*>(dialog.item(CLoginDlg::IdUser));
    list->setCurrentIndex(list->findText(name));
    static_cast<QLineEdit*>(dialog.item(CLoginDlg::IdPassword))->setText(password);
    static_cast<QPushButton*>(dialog.item(1))->click();
    return dialog.result() == QDialog::Accepted;
}
