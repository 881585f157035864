#include "run/archived_test_loading.h"

#include <algorithm>

#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "run/run_audit.h"
#include "state/test_state.h"

void SetParametersFromArchive(const archive::TestHeader& header) {
    g_nComPort = static_cast<uint8_t>(std::clamp(header.portIndex, 0, 15));
    g_strVoltage = header.voltage;
    g_nTestMinutes = header.testMinutes;
    g_nRecordInterval = header.recordInterval;
    g_nDiameter = header.diameter;
    g_strTester = header.tester;
    g_strOrganisation = header.organisation;
    for (int slot = 0; slot < archive::kSpecimenSlots; ++slot)
        g_strSpecimenNo[slot] = header.specimenNo[slot];
    for (int slot = 0; slot < archive::kChannels; ++slot) {
        g_bChannelOff[slot] = header.channelOff[slot] != 0 ? 1 : 0;
        g_strLastCharge[slot] = QStringLiteral("0");
    }
}

void ShowArchivedTest(Testclass& form, const archive::ArchivedTest& test) {
    RunAudit::setShownTest(form, test.header.uid);  // what the form's exports concern
    for (const archive::RecordRow& record : test.records) {
        for (int slot = 0; slot < archive::kChannels; ++slot) {
            if (g_bChannelOff[slot] != 0) continue;
            form.appendHistoryRow(slot, QString::number(record.number), record.current[slot],
                                  record.charge[slot]);
        }
    }
    if (!test.records.empty()) {
        const archive::RecordRow& last = test.records.back();
        g_nLastRecord = static_cast<uint32_t>(test.records.size() - 1);
        for (int slot = 0; slot < archive::kChannels; ++slot) {
            if (g_bChannelOff[slot] != 0) continue;
            g_strLastCurrent[slot] = last.current[slot];
            g_strLastCharge[slot] = last.charge[slot];
            form.setChannelCellOnGui(slot, ChannelColumn::Current, last.current[slot]);
            form.setChannelCellOnGui(slot, ChannelColumn::Charge, last.charge[slot]);
        }
        form.setItemTextOnGui(FormId::Temperature, last.temperature);
        if (last.minutes && *last.minutes < test.header.testMinutes)
            form.setItemTextOnGui(FormId::RemainingMinutes,
                                  QString::number(test.header.testMinutes - *last.minutes));
    }
    form.setItemTextOnGui(FormId::TestDate, test.header.testDate);
    form.setItemTextOnGui(FormId::StartTime, test.header.startTime);
    form.update();  // the chart of the shown channel, from the records
}
