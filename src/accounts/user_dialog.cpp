#include "accounts/user_dialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>

#include "accounts/account_file.h"
#include "platform/gbk_codec.h"
#include "platform/message_box.h"
#include "platform/song_font.h"
#include "state/test_state.h"

namespace {

constexpr int kNameColumn = 1;
constexpr int kPasswordColumn = 2;
constexpr int kNameBytesRole = Qt::UserRole;  // the name exactly as the file holds it

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

QLineEdit* field(QWidget* parent, const QRect& rect, bool masked) {
    auto* edit = new QLineEdit(parent);
    edit->setGeometry(rect);
    if (masked) edit->setEchoMode(QLineEdit::Password);
    return edit;
}

}  // namespace

CUserDlg::CUserDlg(QWidget* parent) : IdDialog(parent, QStringLiteral("用户管理"), 304, 125) {
    struct Row {
        int id;
        const char* label;
        QRect labelRect, fieldRect;
        bool masked;
    };
    const Row rows[] = {
        {IdName, "用户名：", du(188, 26, 40, 10), du(229, 23, 50, 14), false},
        {IdPassword, "密  码：", du(187, 49, 41, 10), du(229, 46, 49, 14), true},
        {IdRepeat, "重复密码：", du(187, 71, 42, 10), du(229, 69, 49, 14), true},
    };
    for (const Row& r : rows) {
        auto* edit = bind(r.id, field(this, r.fieldRect, r.masked));
        auto* label = new QLabel(QString::fromUtf8(r.label), this);
        label->setGeometry(r.labelRect);
        label->setBuddy(edit);
    }

    auto* back = bind(1, new QPushButton(QStringLiteral("返回"), this));
    back->setGeometry(du(44, 104, 50, 14));
    back->setDefault(true);
    auto* remove = bind(IdDelete, new QPushButton(QStringLiteral("删除"), this));
    remove->setGeometry(du(125, 104, 50, 14));
    auto* add = bind(IdAdd, new QPushButton(QStringLiteral("添加"), this));
    add->setGeometry(du(210, 104, 50, 14));
    connect(back, &QPushButton::clicked, this, &CUserDlg::accept);
    connect(remove, &QPushButton::clicked, this, &CUserDlg::OnDelete);
    connect(add, &QPushButton::clicked, this, &CUserDlg::OnAdd);

    m_font = songFont(18);
    m_list = new QTableWidget(0, 3, this);
    m_list->setGeometry(QRect(QPoint(10, 10), QPoint(220 - 1, 150 - 1)));
    m_list->setFont(m_font);
    m_list->setShowGrid(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSortingEnabled(false);
    m_list->verticalHeader()->hide();
    m_list->horizontalHeader()->setSectionsClickable(false);
    m_list->setHorizontalHeaderLabels(
        {QString(), QStringLiteral("用户名"), QStringLiteral("密码")});
    m_list->setColumnWidth(kNameColumn, 100);
    m_list->setColumnWidth(kPasswordColumn, 100);
    m_list->setColumnHidden(0, true);
    m_list->setAccessibleName(QStringLiteral("用户列表"));
    setTabOrder(m_list, item(IdName));
    setTabOrder(item(IdName), item(IdPassword));
    setTabOrder(item(IdPassword), item(IdRepeat));

    const auto records = AccountFile::read(parent);
    if (!records) return;
    m_loaded = true;
    for (const AccountRecord& record : *records) {
        const int row = m_list->rowCount();
        m_list->insertRow(row);
        m_list->setItem(row, 0, cell(QString()));
        QTableWidgetItem* name = cell(gbk::decode(record.name.value));
        name->setData(kNameBytesRole, record.name.value);
        m_list->setItem(row, kNameColumn, name);
        m_list->setItem(row, kPasswordColumn, cell(QStringLiteral("******")));
    }
    if (m_list->rowCount() > 0) m_list->selectRow(0);
}

int CUserDlg::exec() { return m_loaded ? IdDialog::exec() : QDialog::Rejected; }

void CUserDlg::refuse(const QString& text) {
    MessageBox::show(this, text, QStringLiteral("错误"), MessageBox::Buttons::Ok,
                     MessageBox::Icon::Exclamation);
}

void CUserDlg::OnAdd() {
    const QString name = static_cast<QLineEdit*>(item(IdName))->text();
    if (name.isEmpty()) {
        refuse(QStringLiteral("请输出用户名"));
        return;
    }
    const QString password = static_cast<QLineEdit*>(item(IdPassword))->text();
    if (password != static_cast<QLineEdit*>(item(IdRepeat))->text()) {
        refuse(QStringLiteral("两次输入密码不同"));
        return;
    }
    // The list shows the new account the next time the dialog opens.
    AccountFile::append(this, name, password);
}

void CUserDlg::OnDelete() {
    QModelIndexList selected = m_list->selectionModel()->selectedRows(kNameColumn);
    if (selected.isEmpty()) {
        refuse(QStringLiteral("请选择要删除的记录"));
        return;
    }
    const int row = std::min_element(selected.begin(), selected.end())->row();
    QTableWidgetItem* name = m_list->item(row, kNameColumn);
    if (name->text() == g_strCurrentUser) {
        refuse(QStringLiteral("该用户正登陆无法删除"));
        return;
    }
    // The row goes only once the file no longer holds the account.
    if (!AccountFile::remove(this, name->data(kNameBytesRole).toByteArray())) return;
    m_list->removeRow(row);
    m_list->clearSelection();
    m_list->setCurrentIndex(QModelIndex());
}
