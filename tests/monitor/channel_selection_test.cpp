#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTableWidget>

#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "monitor/trend_chart.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"
#include "state/test_state.h"

namespace {

class ChannelSelection : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTestStateForTests();
        UseNoPort();
    }

    void open() {
        form = std::make_unique<Testclass>();
        form->OnInitialUpdate();
        form->resize(form->minimumSize());
        form->show();
    }
    // The channel shown by every part of the form, or -1 when the parts disagree.
    int shownChannel() const {
        QTableWidget* table = form->m_listChannels;
        const QList<QTableWidgetItem*> selected = table->selectedItems();
        const int row = table->currentRow();
        for (QTableWidgetItem* item : selected)
            if (item->row() != row) return -1;
        if (selected.isEmpty()) return -1;
        int visibleLists = 0;
        for (int slot = 0; slot < CHANNELS_IN_USE; ++slot)
            if (form->m_listHistory[slot]->isVisible()) {
                ++visibleLists;
                if (slot != row) return -1;
            }
        if (visibleLists != 1) return -1;
        if (form->m_nCurRow != row || form->m_nShownHistory != row || form->m_nChannel != row ||
            form->m_nCurChannel != row + 1)
            return -1;
        if (form->trendChartData().title != ScreenChartTitle(row + 1)) return -1;
        return row + 1;
    }
    void click(QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* viewport = form->m_listChannels->viewport();
        const QPointF global = viewport->mapToGlobal(QPointF(at));
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), global, Qt::LeftButton,
                          Qt::LeftButton, modifiers);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at), global, Qt::LeftButton,
                            Qt::NoButton, modifiers);
        QCoreApplication::sendEvent(viewport, &press);
        QCoreApplication::sendEvent(viewport, &release);
        PumpFor(10);
    }
    QPoint rowCentre(int row) const {
        return form->m_listChannels->visualItemRect(form->m_listChannels->item(row, 3)).center();
    }
    void key(int k) {
        form->m_listChannels->setFocus();
        QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
        QCoreApplication::sendEvent(form->m_listChannels, &press);
        PumpFor(10);
    }

    ScriptedMessageBoxes boxes;
    std::unique_ptr<Testclass> form;
};

TEST_F(ChannelSelection, StartsOnTheLowestChannelInUse) {
    open();
    EXPECT_EQ(shownChannel(), 1);
    form.reset();
    g_bChannelOff[0] = g_bChannelOff[1] = 1;
    open();
    EXPECT_EQ(shownChannel(), 3);
}

TEST_F(ChannelSelection, ClickingARowShowsThatChannel) {
    open();
    click(rowCentre(3));
    EXPECT_EQ(shownChannel(), 4);
    click(rowCentre(3));  // the row already shown: nothing changes
    EXPECT_EQ(shownChannel(), 4);
    click(rowCentre(0), Qt::ControlModifier);
    EXPECT_EQ(shownChannel(), 1);
    click(rowCentre(0), Qt::ControlModifier);  // Ctrl does not take the selection away
    EXPECT_EQ(shownChannel(), 1);
}

TEST_F(ChannelSelection, ClickingTheEmptyPartKeepsTheSelection) {
    open();
    click(rowCentre(2));
    const QRect last = form->m_listChannels->visualItemRect(form->m_listChannels->item(5, 3));
    const QPoint below(last.center().x(), last.bottom() + 8);
    ASSERT_LT(below.y(), form->m_listChannels->viewport()->height());
    click(below);
    EXPECT_EQ(shownChannel(), 3);
}

TEST_F(ChannelSelection, AChannelNotInUseIsRefused) {
    g_bChannelOff[1] = 1;
    open();
    click(rowCentre(1));
    EXPECT_EQ(shownChannel(), 1);
    form->onChannelTableItemChanged(1);
    EXPECT_EQ(shownChannel(), 1);
    form->onChannelTableItemChanged(6);  // no such row
    EXPECT_EQ(shownChannel(), 1);
    key(Qt::Key_Down);
    EXPECT_EQ(shownChannel(), 1);
}

TEST_F(ChannelSelection, TheKeyboardMovesTheSelection) {
    open();
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    EXPECT_EQ(shownChannel(), 3);
    key(Qt::Key_Up);
    EXPECT_EQ(shownChannel(), 2);
}

}  // namespace
