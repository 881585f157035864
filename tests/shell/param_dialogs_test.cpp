#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "run/comm_dialog.h"
#include "run/dialog_integer.h"
#include "run/param_dialog.h"
#include "state/test_state.h"
#include "support/scripted_dialogs.h"

namespace {

TEST(DialogInteger, SignedDecimalWithBlanksAroundAndNothingElse) {
    EXPECT_EQ(ParseDialogInteger("-5"), -5);
    EXPECT_EQ(ParseDialogInteger(" 7 "), 7);
    EXPECT_EQ(ParseDialogInteger("\t+12\t"), 12);
    EXPECT_EQ(ParseDialogInteger("007"), 7);
    EXPECT_EQ(ParseDialogInteger("-0"), 0);
    EXPECT_EQ(ParseDialogInteger("2147483647"), 2147483647);
    EXPECT_EQ(ParseDialogInteger("-2147483648"), INT32_MIN);
    for (const char* bad : {"", "   ", "-", "+", "5a", "a5", "1 2", "--1", "+-1", "1.5", "0x10",
                            "2147483648", "-2147483649", "99999999999999999999"}) {
        EXPECT_FALSE(ParseDialogInteger(QString::fromLatin1(bad))) << bad;
    }
    EXPECT_FALSE(ParseDialogInteger(QStringLiteral("５")));  // a full-width digit
}

class ParamDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTestStateForTests();
        // Values of an earlier test, which a refused OK must leave alone.
        g_nComPort = 3;
        g_strVoltage = "48";
        g_nTestMinutes = 90;
        g_nRecordInterval = 9;
        g_nDiameter = 95;
        g_strTester = "old";
        g_strOrganisation = "lab";
        g_strSpecimenNo[0] = "S1";
        g_bChannelOff[1] = 1;
        g_strLastCharge[2] = "12.5(C)";
        g_strLastCharge[6] = "keep";
    }

    static QLineEdit* field(CParamDlg& d, int id) { return static_cast<QLineEdit*>(d.item(id)); }
    static QComboBox* port(IdDialog& d, int id) { return static_cast<QComboBox*>(d.item(id)); }
    static void ok(IdDialog& d) { static_cast<QPushButton*>(d.item(1))->click(); }

    void expectEarlierValuesKept() {
        EXPECT_EQ(g_nComPort, 3);
        EXPECT_EQ(g_strVoltage, "48");
        EXPECT_EQ(g_nTestMinutes, 90);
        EXPECT_EQ(g_nRecordInterval, 9);
        EXPECT_EQ(g_nDiameter, 95);
        EXPECT_EQ(g_strTester, "old");
        EXPECT_EQ(g_strOrganisation, "lab");
        EXPECT_EQ(g_strSpecimenNo[0], "S1");
        EXPECT_EQ(g_bChannelOff[1], 1);
        EXPECT_EQ(g_strLastCharge[2], "12.5(C)");
    }

    // Types `text` into field `id`, presses OK and expects the integer refusal with the
    // focus back on that field, its text selected.
    void expectIntegerRefused(int id, const QString& text) {
        CParamDlg dialog;
        field(dialog, id)->setText(text);
        m_boxes.clear();
        ok(dialog);
        EXPECT_NE(dialog.result(), QDialog::Accepted) << text.toStdString();
        ASSERT_EQ(m_boxes.texts(), QStringList{QStringLiteral("请键入一个整数。")})
            << text.toStdString();
        EXPECT_EQ(m_boxes.shown()[0].request.caption, "Kivo");
        EXPECT_EQ(dialog.focusWidget(), field(dialog, id));
        EXPECT_EQ(field(dialog, id)->selectedText(), text);
        expectEarlierValuesKept();
    }

    ScriptedMessageBoxes m_boxes;
};

TEST_F(ParamDialogTest, EveryOpeningShowsTheDefaults) {
    for (int opening = 0; opening < 2; ++opening) {
        CParamDlg dialog;
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("参数设置"));
        EXPECT_EQ(port(dialog, CParamDlg::IdPort)->currentText(), "COM1");
        EXPECT_EQ(port(dialog, CParamDlg::IdPort)->count(), 16);
        EXPECT_EQ(port(dialog, CParamDlg::IdPort)->itemText(15), "COM16");
        EXPECT_EQ(field(dialog, CParamDlg::IdVoltage)->text(), "60.0");
        EXPECT_EQ(field(dialog, CParamDlg::IdRecordInterval)->text(), "5");
        EXPECT_EQ(field(dialog, CParamDlg::IdTestMinutes)->text(), "360");
        EXPECT_EQ(field(dialog, CParamDlg::IdDiameter)->text(), "100");
        EXPECT_EQ(field(dialog, CParamDlg::IdTester)->text(), "");
        EXPECT_EQ(field(dialog, CParamDlg::IdOrganisation)->text(), "");
        // Something else typed and accepted does not come back the next time.
        port(dialog, CParamDlg::IdPort)->setCurrentIndex(4);
        field(dialog, CParamDlg::IdTester)->setText(QStringLiteral("王五"));
        field(dialog, CParamDlg::IdOrganisation)->setText(QStringLiteral("检测站"));
        field(dialog, CParamDlg::IdRecordInterval)->setText("2");
        ok(dialog);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(m_boxes.count(), 0);
}

TEST_F(ParamDialogTest, OkCopiesTheFieldsAndResetsTheSixChannelSlots) {
    CParamDlg dialog;
    port(dialog, CParamDlg::IdPort)->setCurrentIndex(15);
    field(dialog, CParamDlg::IdVoltage)->setText("");
    field(dialog, CParamDlg::IdRecordInterval)->setText("-5");
    field(dialog, CParamDlg::IdTestMinutes)->setText(" 7 ");
    field(dialog, CParamDlg::IdDiameter)->setText("0");
    field(dialog, CParamDlg::IdTester)->setText(QStringLiteral("张三"));
    field(dialog, CParamDlg::IdOrganisation)->setText(QStringLiteral("质检站"));
    ok(dialog);
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    // The diameter of 0 is taken once confirmed (the box answered OK).
    EXPECT_EQ(m_boxes.texts(), QStringList{DiameterWarning(0)});
    EXPECT_EQ(g_nComPort, 15);
    EXPECT_EQ(g_strVoltage, "");
    EXPECT_EQ(g_nRecordInterval, -5);
    EXPECT_EQ(g_nTestMinutes, 7);
    EXPECT_EQ(g_nDiameter, 0);
    EXPECT_EQ(g_strTester, QStringLiteral("张三"));
    EXPECT_EQ(g_strOrganisation, QStringLiteral("质检站"));
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
        EXPECT_EQ(g_strSpecimenNo[slot], "");
        EXPECT_EQ(g_bChannelOff[slot], 0);
        EXPECT_EQ(g_strLastCharge[slot], "0");
    }
    EXPECT_EQ(g_strLastCharge[6], "keep");
}

TEST_F(ParamDialogTest, BadIntegersAreRefusedWithoutTouchingTheParameters) {
    expectIntegerRefused(CParamDlg::IdRecordInterval, "5a");
    expectIntegerRefused(CParamDlg::IdDiameter, "");
    expectIntegerRefused(CParamDlg::IdDiameter, "2147483648");
    expectIntegerRefused(CParamDlg::IdTestMinutes, "-2147483649");
}

TEST_F(ParamDialogTest, TheFirstBadFieldInExchangeOrderIsReported) {
    CParamDlg dialog;
    field(dialog, CParamDlg::IdDiameter)->setText("x");
    field(dialog, CParamDlg::IdRecordInterval)->setText("y");
    field(dialog, CParamDlg::IdTestMinutes)->setText("z");
    ok(dialog);
    EXPECT_EQ(dialog.focusWidget(), field(dialog, CParamDlg::IdTestMinutes));
    field(dialog, CParamDlg::IdTestMinutes)->setText("0");
    ok(dialog);
    EXPECT_EQ(dialog.focusWidget(), field(dialog, CParamDlg::IdRecordInterval));
    // Integers are read before the zero checks.
    field(dialog, CParamDlg::IdRecordInterval)->setText("0");
    ok(dialog);
    EXPECT_EQ(dialog.focusWidget(), field(dialog, CParamDlg::IdDiameter));
    EXPECT_EQ(m_boxes.count(), 3);
    expectEarlierValuesKept();
}

TEST_F(ParamDialogTest, ZeroIntervalIsReportedBeforeZeroDuration) {
    CParamDlg dialog;
    field(dialog, CParamDlg::IdRecordInterval)->setText("0");
    field(dialog, CParamDlg::IdTestMinutes)->setText("0");
    ok(dialog);
    EXPECT_EQ(m_boxes.texts(), QStringList{QStringLiteral("间隔时间错误!")});
    field(dialog, CParamDlg::IdRecordInterval)->setText("5");
    ok(dialog);
    EXPECT_EQ(m_boxes.texts().last(), QStringLiteral("试验时间错误!"));
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    expectEarlierValuesKept();

    CParamDlg other;
    field(other, CParamDlg::IdTestMinutes)->setText("0");
    m_boxes.clear();
    ok(other);
    EXPECT_EQ(m_boxes.texts(), QStringList{QStringLiteral("试验时间错误!")});
    expectEarlierValuesKept();
}

TEST_F(ParamDialogTest, TextGbkCannotHoldIsRefused) {
    CParamDlg dialog;
    field(dialog, CParamDlg::IdOrganisation)->setText(QStringLiteral("实验室😀"));
    ok(dialog);
    ASSERT_EQ(m_boxes.count(), 1);
    EXPECT_TRUE(m_boxes.texts()[0].contains(QStringLiteral("测试单位")));
    EXPECT_EQ(dialog.focusWidget(), field(dialog, CParamDlg::IdOrganisation));
    expectEarlierValuesKept();
}

TEST_F(ParamDialogTest, CancelChangesNothing) {
    CParamDlg dialog;
    field(dialog, CParamDlg::IdRecordInterval)->setText("5a");
    ok(dialog);
    static_cast<QPushButton*>(dialog.item(2))->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    expectEarlierValuesKept();
}

TEST_F(ParamDialogTest, ThePortDialogOpensAtThePortInUse) {
    CCommDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("通信设置"));
    EXPECT_EQ(port(dialog, CCommDlg::IdPort)->currentText(), "COM4");
    port(dialog, CCommDlg::IdPort)->setCurrentIndex(9);
    ok(dialog);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(g_nComPort, 9);
    EXPECT_EQ(g_nRecordInterval, 9);  // nothing else changes
}

TEST_F(ParamDialogTest, EachPortNamesItsDevice) {
    qputenv("KIVO_COM3", "/dev/ttyUSB7");
    CCommDlg dialog;
    QComboBox* list = port(dialog, CCommDlg::IdPort);
    EXPECT_TRUE(list->itemData(2, Qt::ToolTipRole).toString().contains("/dev/ttyUSB7"));
    EXPECT_TRUE(list->itemData(0, Qt::ToolTipRole).toString().contains("COM1"));
    list->setCurrentIndex(2);
    EXPECT_TRUE(list->toolTip().contains("/dev/ttyUSB7"));
    qunsetenv("KIVO_COM3");
}

}  // namespace
