#pragma once

#include <QFont>

#include "platform/id_dialog.h"

class QTableWidget;

// "用户管理": lists the accounts of the account file (passwords masked), adds an account
// and removes every account of a name. Each change is written to the file at once.
class CUserDlg : public IdDialog {
    Q_OBJECT

  public:
    static constexpr int IdName = 1001;
    static constexpr int IdPassword = 1002;
    static constexpr int IdRepeat = 1003;
    static constexpr int IdAdd = 1024;
    static constexpr int IdDelete = 1025;

    explicit CUserDlg(QWidget* parent = nullptr);

    // Ends at once with Rejected when the account file could not be read (the reason has
    // been shown).
    int exec() override;

    void OnAdd();
    void OnDelete();

    QTableWidget* list() const { return m_list; }

  private:
    void refuse(const QString& text);

    QFont m_font;
    QTableWidget* m_list = nullptr;
    bool m_loaded = false;
};
