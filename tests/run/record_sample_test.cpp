#include <gtest/gtest.h>

#include <QTableWidget>

#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"
#include "state/test_state.h"

namespace {

class RecordSample : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTestStateForTests();
        UseNoPort();
        g_nRecordInterval = 5;
        g_bChannelOff[1] = 1;
        g_strLastCurrent[0] = QStringLiteral("left over from the last test");
        form.OnInitialUpdate();
    }
    void reading(int row, const QString& current, const QString& charge) {
        form.setChannelCellOnGui(row, ChannelColumn::Current, current);
        form.setChannelCellOnGui(row, ChannelColumn::Charge, charge);
    }

    ScriptedMessageBoxes boxes;
    Testclass form;
};

TEST_F(RecordSample, NoRecordWhileTheLinkReportsAFaultAndNoGapAfterwards) {
    form.OnRecordSample();  // field 1001 still empty
    EXPECT_EQ(form.historyRowCount(0), 0);

    form.setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信正常"));
    reading(0, QStringLiteral("120.50(mA)"), QStringLiteral("3.25(C)"));
    form.OnRecordSample();
    EXPECT_EQ(form.historyRowCount(0), 1);
    EXPECT_EQ(form.historyCell(0, 0, 0), "");
    EXPECT_EQ(form.historyCell(0, 0, 1), "1");
    EXPECT_EQ(form.historyCell(0, 0, 2), "120.50(mA)");
    EXPECT_EQ(form.historyCell(0, 0, 3), "3.25(C)");
    EXPECT_EQ(g_nLastRecord, 0u);
    EXPECT_EQ(g_strLastCurrent[0], "120.50(mA)");
    EXPECT_EQ(g_strLastCharge[0], "3.25(C)");

    for (const char* status : {"通信故障", "通信正常 ", ""}) {
        form.setItemTextOnGui(FormId::CommStatus, QString::fromUtf8(status));
        form.OnRecordSample();
    }
    EXPECT_EQ(form.historyRowCount(0), 1);

    form.setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信正常"));
    reading(0, QStringLiteral("130.00(mA)"), QStringLiteral("4.00(C)"));
    form.OnRecordSample();
    EXPECT_EQ(form.historyRowCount(0), 2);
    EXPECT_EQ(form.historyCell(0, 1, 1), "2");
    EXPECT_EQ(g_nLastRecord, 1u);
    EXPECT_EQ(g_strLastCurrent[0], "130.00(mA)");
    EXPECT_EQ(g_strLastCharge[0], "4.00(C)");
}

TEST_F(RecordSample, EveryChannelInUseGetsARowAndAChannelNotInUseNone) {
    form.setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信正常"));
    for (int i = 0; i < 3; ++i) form.OnRecordSample();
    for (int slot : {0, 2, 3, 4, 5}) {
        EXPECT_EQ(form.historyRowCount(slot), 3) << slot;
        EXPECT_EQ(form.historyCell(slot, 2, 1), "3");
        EXPECT_EQ(form.historyCell(slot, 2, 2), "");  // no reply yet: empty texts
    }
    EXPECT_EQ(form.historyRowCount(1), 0);
    EXPECT_EQ(form.channelCellOnGui(1, ChannelColumn::Status), "停用");
    EXPECT_EQ(form.channelCellOnGui(1, ChannelColumn::Current), "-");
}

TEST_F(RecordSample, TheNewestRowIsScrolledIntoView) {
    form.resize(form.minimumSize());
    form.show();
    form.setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信正常"));
    for (int i = 0; i < 40; ++i) form.OnRecordSample();
    QTableWidget* list = form.m_listHistory[0];
    const QRect last = list->visualRect(list->model()->index(39, 1));
    EXPECT_TRUE(list->viewport()->rect().contains(last)) << last.y();
}

}  // namespace
