#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "run/archived_run.h"

// One record of every channel in use: the readings the latest channel poll left in the
// channel table, appended to each channel's history list and handed to the archive. Nothing
// is recorded while the link reports a fault.
void Testclass::OnRecordSample() {
    if (itemTextOnGui(FormId::CommStatus) != QStringLiteral("通信正常")) return;
    int recorded = -1;
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
        if (g_bChannelOff[slot] != 0) continue;
        const int row = historyRowCount(slot);
        g_nLastRecord = static_cast<uint32_t>(row);
        const QString current = channelCellOnGui(slot, ChannelColumn::Current);
        const QString charge = channelCellOnGui(slot, ChannelColumn::Charge);
        appendHistoryRow(slot, QString::number(row + 1), current, charge);
        // g_strLastCurrent still holds the previous record's current here.
        if (slot + 1 == m_nCurChannel && g_nLastRecord > 0) DrawTrendSegment(current);
        g_strLastCurrent[slot] = current;
        g_strLastCharge[slot] = charge;
        recorded = row;
    }
    if (recorded >= 0) ArchivedRun::recorded(*this, recorded);
}

// The readings of a finished channel poll go to the archive as they are shown.
void Testclass::OnChannelPollDone() { ArchivedRun::polled(*this); }
