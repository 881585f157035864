#pragma once

#include "platform/id_dialog.h"

// "通信设置": picks the serial port of the open test window. It opens at the port in use;
// OK makes the choice g_nComPort.
class CCommDlg : public IdDialog {
    Q_OBJECT

  public:
    static constexpr int IdPort = 1000;

    explicit CCommDlg(QWidget* parent = nullptr);
    void accept() override;

    int m_nComPort = 0;
};
