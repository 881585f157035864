#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"
#include "run/archived_run.h"

// The record tick may come in the middle of a command: the readings of the channels the
// poll has already read, and the status of the latest reply, may still be on their way to
// the form. The record waits for them, so that it never reads a table older than the link's
// latest readings, nor misses its status (the first record, 5 s after a start, would
// otherwise find the "通信故障" of before the start).
void Testclass::OnRecordTick() {
    m_link->whenShown([](Testclass& form) { form.OnRecordSample(); });
}

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
