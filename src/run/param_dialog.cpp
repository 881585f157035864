#include "run/param_dialog.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "export/penetrability.h"
#include "platform/gbk_codec.h"
#include "platform/message_box.h"
#include "run/dialog_integer.h"
#include "run/port_list.h"
#include "state/test_state.h"

namespace {

struct FieldSpec {
    int id;
    const char* label;
    int x, y;  // label position; the field sits 60 units to the right
};

// Voltage, interval and tester on the left; duration, diameter and organisation on the
// right, in tab order.
constexpr FieldSpec kFields[] = {
    {CParamDlg::IdVoltage, "输入电压(V)", 22, 80},
    {CParamDlg::IdRecordInterval, "保存间隔(min)", 22, 104},
    {CParamDlg::IdTester, "测试人", 22, 128},
    {CParamDlg::IdTestMinutes, "实验时间(min)", 160, 80},
    {CParamDlg::IdDiameter, "试件直径(mm)", 160, 104},
    {CParamDlg::IdOrganisation, "测试单位", 160, 128},
};

}  // namespace

CParamDlg::CParamDlg(QWidget* parent) : IdDialog(parent, QStringLiteral("参数设置"), 307, 187) {
    auto* portGroup = new QGroupBox(QStringLiteral("通信串口设定"), this);
    portGroup->setGeometry(du(7, 7, 293, 45));
    auto* port = bind(IdPort, new QComboBox(this));
    port->setGeometry(du(100, 24, 80, 14));
    FillPortList(port);
    auto* portLabel = new QLabel(QStringLiteral("请选择通信串口："), this);
    portLabel->setGeometry(du(22, 27, 78, 10));
    portLabel->setBuddy(port);

    auto* basicGroup = new QGroupBox(QStringLiteral("基本设定"), this);
    basicGroup->setGeometry(du(7, 58, 293, 96));
    QWidget* previous = port;
    for (const FieldSpec& f : kFields) {
        auto* field = bind(f.id, new QLineEdit(this));
        field->setGeometry(du(f.x + 60, f.y - 3, 68, 14));
        auto* label = new QLabel(QString::fromUtf8(f.label), this);
        label->setGeometry(du(f.x, f.y, 59, 10));
        label->setBuddy(field);
        setTabOrder(previous, field);
        previous = field;
    }

    const auto [ok, cancel] = addOkCancel(72, 185, 163);
    setTabOrder(previous, ok);
    setTabOrder(ok, cancel);

    // The same defaults at every opening: nothing of an earlier test is shown.
    port->setCurrentIndex(m_nComPort);
    edit(IdVoltage)->setText(m_strVoltage);
    edit(IdRecordInterval)->setText(QString::number(m_nRecordInterval));
    edit(IdTester)->setText(m_strTester);
    edit(IdOrganisation)->setText(m_strOrganisation);
    edit(IdTestMinutes)->setText(QString::number(m_nTestMinutes));
    edit(IdDiameter)->setText(QString::number(m_nDiameter));
}

QLineEdit* CParamDlg::edit(int id) const { return static_cast<QLineEdit*>(item(id)); }

void CParamDlg::fail(QLineEdit* field, const QString& text) {
    MessageBox::show(this, text);
    field->setFocus();
    field->selectAll();
}

bool CParamDlg::readFields() {
    m_nComPort = static_cast<QComboBox*>(item(IdPort))->currentIndex();

    // The fields in exchange order: the first one that fails is the one reported.
    struct IntegerField {
        int id;
        int* member;
    };
    for (const IntegerField& f : {IntegerField{IdTestMinutes, &m_nTestMinutes},
                                  IntegerField{IdRecordInterval, &m_nRecordInterval},
                                  IntegerField{IdDiameter, &m_nDiameter}}) {
        const auto value = ParseDialogInteger(edit(f.id)->text());
        if (!value) {
            fail(edit(f.id), QStringLiteral("请键入一个整数。"));
            return false;
        }
        *f.member = *value;
    }

    // The texts go into the GBK data file and report.
    // A control character would break the data file's lines (or hide in the report).
    struct TextField {
        int id;
        const char* label;
        QString* member;
    };
    for (const TextField& f : {TextField{IdTester, "测试人", &m_strTester},
                               TextField{IdOrganisation, "测试单位", &m_strOrganisation},
                               TextField{IdVoltage, "输入电压", &m_strVoltage}}) {
        const QString text = edit(f.id)->text();
        const QString label = QString::fromUtf8(f.label);
        if (std::any_of(text.begin(), text.end(),
                        [](QChar c) { return c.category() == QChar::Other_Control; })) {
            fail(edit(f.id),
                 QStringLiteral("“%1”中不能含有制表符、换行符等控制字符，请修改。").arg(label));
            return false;
        }
        if (!gbk::canEncode(text)) {
            fail(edit(f.id), QStringLiteral("“%1”中含有无法保存的字符（只能使用 GBK "
                                            "字符集中的字符），请修改。")
                                 .arg(label));
            return false;
        }
        *f.member = text;
    }
    return true;
}

QString DiameterWarning(int diameterMm) {
    return QStringLiteral(
               "试件直径 %1 mm 不在 %2–%3 mm 之间，试验结果将不换算电通量Qs，也不评定等级。"
               "确定使用这个直径吗？")
        .arg(diameterMm)
        .arg(kLeastDiameterMm)
        .arg(kGreatestDiameterMm);
}

void CParamDlg::accept() {
    if (!readFields()) return;
    if (m_nRecordInterval == 0) {
        MessageBox::show(this, QStringLiteral("间隔时间错误!"));
        return;
    }
    if (m_nTestMinutes == 0) {
        MessageBox::show(this, QStringLiteral("试验时间错误!"));
        return;
    }
    // Any integer is taken, but a diameter no specimen has (a typo of 10 for 100) would make
    // the results meaningless: the operator confirms it.
    if (!DiameterIsPlausible(m_nDiameter) &&
        MessageBox::show(this, DiameterWarning(m_nDiameter), MessageBox::kAppCaption,
                         MessageBox::Buttons::OkCancel,
                         MessageBox::Icon::Exclamation) != MessageBox::Ok) {
        edit(IdDiameter)->setFocus();
        edit(IdDiameter)->selectAll();
        return;
    }

    g_nComPort = static_cast<uint8_t>(m_nComPort & 0xFF);
    g_strVoltage = m_strVoltage;
    g_nTestMinutes = m_nTestMinutes;
    g_nRecordInterval = m_nRecordInterval;
    g_nDiameter = m_nDiameter;
    g_strTester = m_strTester;
    g_strOrganisation = m_strOrganisation;
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
        g_strSpecimenNo[slot].clear();
        g_bChannelOff[slot] = 0;
        g_strLastCharge[slot] = QStringLiteral("0");
    }
    IdDialog::accept();
}
