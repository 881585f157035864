#include "app/grading_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/message_box.h"

GradingDialog::GradingDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("结果评定"));
    m_scheme = new QComboBox(this);
    m_scheme->addItem(GradingSchemeName(GradingScheme::PenetrabilityClasses),
                      int(GradingScheme::PenetrabilityClasses));
    m_scheme->addItem(GradingSchemeName(GradingScheme::DurabilityGrades),
                      int(GradingScheme::DurabilityGrades));
    m_scheme->setCurrentIndex(m_scheme->findData(int(StoredGradingScheme())));
    m_scheme->setAccessibleName(QStringLiteral("评定标准"));
    auto* label = new QLabel(QStringLiteral("评定标准(&G)："), this);
    label->setBuddy(m_scheme);
    m_bounds = new QLabel(this);
    m_bounds->setAccessibleName(QStringLiteral("等级界限"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &GradingDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &GradingDialog::reject);
    connect(m_scheme, &QComboBox::currentIndexChanged, this, &GradingDialog::showBounds);

    auto* form = new QFormLayout;
    form->addRow(label, m_scheme);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_bounds);
    layout->addWidget(buttons);
    showBounds();
}

GradingScheme GradingDialog::chosen() const {
    return GradingScheme(m_scheme->currentData().toInt());
}

void GradingDialog::showBounds() {
    m_bounds->setText(
        chosen() == GradingScheme::DurabilityGrades
            ? QStringLiteral("换算电通量Qs：Q-I ≥4000 C，Q-II 2000～<4000 C，\n"
                             "Q-III 1000～<2000 C，Q-IV 500～<1000 C，Q-V <500 C")
            : QStringLiteral("换算电通量Qs：高 >4000 C，中 2000～4000 C，低 1000～<2000 C，\n"
                             "很低 100～<1000 C，可忽略 <100 C"));
}

void GradingDialog::accept() {
    QString error;
    if (!StoreGradingScheme(chosen(), &error)) {
        MessageBox::show(this, error, MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Exclamation);
        return;
    }
    QDialog::accept();
}
