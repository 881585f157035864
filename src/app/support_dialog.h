#pragma once

#include "platform/id_dialog.h"

// "关于 Zel": the technical-support box, the same with or without a test window.
class CSupportDlg : public IdDialog {
    Q_OBJECT

  public:
    explicit CSupportDlg(QWidget* parent = nullptr);
};
