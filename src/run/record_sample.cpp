#include <QTableWidget>

#include "monitor/form_ids.h"
#include "monitor/table_cell.h"
#include "monitor/testclass.h"

// One record of every channel in use: the readings the latest channel poll left in the
// channel table, appended to each channel's history list. Nothing is recorded while the
// link reports a fault.
void Testclass::OnRecordSample() {
    if (itemTextOnGui(FormId::CommStatus) != QStringLiteral("通信正常")) return;
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
        if (g_bChannelOff[slot] != 0) continue;
        QTableWidget* list = m_listHistory[slot];
        const int row = list->rowCount();
        list->insertRow(row);
        g_nLastRecord = static_cast<uint32_t>(row);
        list->setItem(row, HistoryColumn::Hidden, CentredCell(QString()));
        list->setItem(row, HistoryColumn::RecordNo, CentredCell(QString::number(row + 1)));
        list->scrollToBottom();  // the new row is the last one

        const QString current = channelCellOnGui(slot, ChannelColumn::Current);
        list->setItem(row, HistoryColumn::Current, CentredCell(current));
        // g_strLastCurrent still holds the previous record's current here.
        if (slot + 1 == m_nCurChannel && g_nLastRecord > 0) DrawTrendSegment(current);
        g_strLastCurrent[slot] = current;

        const QString charge = channelCellOnGui(slot, ChannelColumn::Charge);
        g_strLastCharge[slot] = charge;
        list->setItem(row, HistoryColumn::Charge, CentredCell(charge));
    }
}

void Testclass::OnChannelPollDone() {}
