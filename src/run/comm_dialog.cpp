#include "run/comm_dialog.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>

#include "run/port_list.h"
#include "state/test_state.h"

CCommDlg::CCommDlg(QWidget* parent) : IdDialog(parent, QStringLiteral("通信设置"), 235, 85) {
    auto* group = new QGroupBox(QStringLiteral("COM 选择"), this);
    group->setGeometry(du(7, 7, 221, 50));
    auto* port = bind(IdPort, new QComboBox(this));
    port->setGeometry(du(78, 26, 80, 14));
    port->setAccessibleName(QStringLiteral("COM 选择"));
    FillPortList(port);

    addOkCancel(45, 140, 64, QStringLiteral("确认"));

    m_nComPort = g_nComPort;
    port->setCurrentIndex(m_nComPort);
}

void CCommDlg::accept() {
    const int selected = static_cast<QComboBox*>(item(IdPort))->currentIndex();
    if (selected < 0) return;  // no port chosen: there is nothing to open
    m_nComPort = selected;
    g_nComPort = static_cast<uint8_t>(m_nComPort & 0xFF);
    IdDialog::accept();
}
