#pragma once

#include <QDialog>

#include "export/grading_scheme.h"

class QComboBox;
class QLabel;

// "结果评定": which scale the lab grades results by, the chloride-ion penetrability classes or
// the durability grades of the electric flux. The choice is stored in the lab settings beside
// the archive when the operator presses 确定 (a failure to store it is told and the dialog
// stays open).
class GradingDialog : public QDialog {
    Q_OBJECT

  public:
    explicit GradingDialog(QWidget* parent = nullptr);

    QComboBox* schemeBox() const { return m_scheme; }
    GradingScheme chosen() const;

    void accept() override;

  private:
    void showBounds();

    QComboBox* m_scheme = nullptr;
    QLabel* m_bounds = nullptr;
};
