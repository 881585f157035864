#include "run/form_snapshots.h"

#include <algorithm>

#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "state/test_state.h"

TextDataSnapshot TakeTextDataSnapshot(const Testclass& form) {
    TextDataSnapshot s;
    s.testDate = form.itemTextOnGui(FormId::TestDate);
    s.organisation = g_strOrganisation;
    s.tester = g_strTester;
    s.recordInterval = g_nRecordInterval;
    s.diameter = g_nDiameter;
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) s.channelOff[slot] = g_bChannelOff[slot];
    s.lastRecord = g_nLastRecord;
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
        const qint64 rows = std::min<qint64>(form.historyRowCount(slot), qint64{s.lastRecord} + 1);
        QList<TextDataSnapshot::Row>& history = s.history[slot];
        history.reserve(rows);
        for (int r = 0; r < rows; ++r) {
            history.append({form.historyCell(slot, r, HistoryColumn::RecordNo),
                            form.historyCell(slot, r, HistoryColumn::Current),
                            form.historyCell(slot, r, HistoryColumn::Charge)});
        }
    }
    return s;
}

ChartExportSnapshot TakeChartExportSnapshot(const Testclass& form, const QSize& frameSize) {
    ChartExportSnapshot s;
    s.size = frameSize;
    s.recordInterval = g_nRecordInterval;
    s.gridShift = form.m_nGridShift;
    s.lastRecord = g_nLastRecord;
    for (int slot = 0; slot < CHART_EXPORT_CHANNELS; ++slot) {
        s.channelOff[slot] = g_bChannelOff[slot];
        if (form.m_listHistory[slot] == nullptr) continue;
        // Only a curve needs the texts; rows a list lacks read as empty, that is 0 mA.
        QStringList texts;
        if (s.lastRecord >= 1 && s.channelOff[slot] == 0) {
            texts.reserve(static_cast<qsizetype>(s.lastRecord) + 1);
            for (uint64_t r = 0; r <= s.lastRecord; ++r)
                texts << form.historyCell(slot, static_cast<int>(r), HistoryColumn::Current);
        }
        s.currents[slot] = std::move(texts);
    }
    return s;
}

ReportSnapshot TakeReportSnapshot(const Testclass& form) {
    ReportSnapshot s;
    s.testMinutes = g_nTestMinutes;
    s.recordIntervalText = form.itemTextOnGui(FormId::RecordInterval);
    s.diameterText = form.itemTextOnGui(FormId::Diameter);
    s.diameter = g_nDiameter;
    s.organisation = g_strOrganisation;
    s.tester = g_strTester;
    s.voltage = g_strVoltage;
    for (int slot = 0; slot < kReportSpecimenSlots; ++slot) {
        s.specimenNo[slot] = g_strSpecimenNo[slot];
        s.lastCharge[slot] = g_strLastCharge[slot];
    }
    s.lastRecord = g_nLastRecord.load();
    for (int slot = 0; slot < kReportChannels; ++slot) {
        s.channelOff[slot] = g_bChannelOff[slot] == 1;
        if (s.channelOff[slot] || s.lastRecord == 0) continue;
        const uint32_t rows = static_cast<uint32_t>(form.historyRowCount(slot));
        for (uint32_t j = 0; j <= s.lastRecord && j < rows; ++j) {
            const int row = static_cast<int>(j);
            s.history[slot].push_back({form.historyCell(slot, row, HistoryColumn::RecordNo),
                                       form.historyCell(slot, row, HistoryColumn::Current),
                                       form.historyCell(slot, row, HistoryColumn::Charge)});
        }
    }
    return s;
}
