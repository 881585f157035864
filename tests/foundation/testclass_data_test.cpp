#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDate>
#include <QHeaderView>
#include <QTableWidget>
#include <atomic>
#include <thread>

#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"
#include "support/scripted_dialogs.h"
#include "state/test_state.h"

namespace {

class TestclassData : public ::testing::Test {
protected:
    void SetUp() override {
        ResetTestStateForTests();
        g_nRecordInterval = 5;
        g_nDiameter = 100;
        g_strTester = QStringLiteral("张三");
        for (int i = 0; i < CHANNELS_IN_USE; ++i) g_strSpecimenNo[i] = QString("S%1").arg(i + 1);
    }
    ScriptedMessageBoxes boxes;
};

TEST_F(TestclassData, ChannelTableAndHistoryListsAfterInitialisation) {
    g_bChannelOff[0] = 1;
    Testclass form;
    form.OnInitialUpdate();
    QTableWidget* table = form.m_listChannels;
    ASSERT_EQ(table->rowCount(), 6);
    ASSERT_EQ(table->columnCount(), 6);
    const int widths[] = {0, 50, 90, 50, 110, 110};
    for (int c = 1; c < 6; ++c) EXPECT_EQ(table->columnWidth(c), widths[c]) << c;
    EXPECT_EQ(table->geometry(), QRect(85, 70, 410, 176));
    EXPECT_EQ(table->item(3, 0)->text(), "123");
    EXPECT_EQ(table->item(3, 1)->text(), "4");
    // Channel 1 is off: "-", "停用", "-", "-"; the lowest channel in use is selected.
    EXPECT_EQ(form.channelCellOnGui(0, 2), "-");
    EXPECT_EQ(form.channelCellOnGui(0, 3), "停用");
    EXPECT_EQ(form.channelCellOnGui(0, 4), "-");
    EXPECT_EQ(form.channelCellOnGui(1, 2), "S2");
    EXPECT_EQ(form.channelCellOnGui(1, 3), "停止");
    EXPECT_EQ(form.channelCellOnGui(1, 4), "");
    EXPECT_EQ(form.m_nChannel, 1);
    EXPECT_EQ(form.m_nCurChannel, 2);
    EXPECT_TRUE(form.m_listHistory[1]->isVisibleTo(&form));
    EXPECT_FALSE(form.m_listHistory[0]->isVisibleTo(&form));

    QTableWidget* history = form.m_listHistory[2];
    EXPECT_EQ(history->horizontalHeaderItem(1)->text(), "保存次数");
    EXPECT_EQ(history->horizontalHeaderItem(2)->text(), "通道3电流");
    EXPECT_EQ(history->horizontalHeaderItem(3)->text(), "通道3电量");
    EXPECT_EQ(history->geometry(), QRect(600, 70, 350, 160));

    EXPECT_EQ(form.itemTextOnGui(FormId::StartTime), "00:00:00");
    EXPECT_EQ(form.itemTextOnGui(FormId::RecordInterval), "5");
    EXPECT_EQ(form.itemTextOnGui(FormId::Diameter), "100");
    EXPECT_EQ(form.itemTextOnGui(FormId::Tester), "张三");
    const QDate today = QDate::currentDate();
    EXPECT_EQ(form.itemTextOnGui(FormId::TestDate),
              QString("%1-%2-%3").arg(today.year()).arg(today.month()).arg(today.day()));
}

TEST_F(TestclassData, WorkerWritesAreCarriedOutOnTheGuiThread) {
    Testclass form;
    form.OnInitialUpdate();
    std::shared_ptr<FormLink> link = form.link();
    std::atomic<bool> done{false};
    QString readBack;
    std::thread worker([&] {
        link->setItemText(FormId::CommStatus, QStringLiteral("通信正常"));
        link->setReading(2, LinkView::Reading::Current, QStringLiteral("12.50(mA)"));
        link->setReading(7, LinkView::Reading::Current, QStringLiteral("ignored"));
        link->commandEnded();  // the readings of a command are handed over at its end
        done = true;
    });
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    worker.join();
    QCoreApplication::processEvents();
    readBack = form.channelCellOnGui(2, ChannelColumn::Current);
    EXPECT_EQ(readBack, "12.50(mA)");
    EXPECT_EQ(form.itemTextOnGui(FormId::CommStatus), "通信正常");
}

TEST_F(TestclassData, LinkCallsAfterTheFormIsGoneDoNothing) {
    std::shared_ptr<FormLink> link;
    {
        Testclass form;
        form.OnInitialUpdate();
        link = form.link();
    }
    std::thread worker([&] {
        link->setItemText(FormId::CommStatus, QStringLiteral("通信正常"));
        EXPECT_EQ(link->itemText(FormId::CommStatus), "");
    });
    worker.join();  // returns without the GUI thread pumping: the gate is closed
}

}  // namespace
