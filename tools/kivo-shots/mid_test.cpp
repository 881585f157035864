#include "mid_test.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QtMath>

#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "run/run_link.h"
#include "state/test_state.h"

namespace {

// A believable reading of channel `slot` at `minute`: currents of 60 to 140 mA at 60 V that
// rise slowly as the specimens warm, with a little wobble.
double currentAt(int slot, int minute) {
    static const double start[] = {92.0, 118.5, 74.2, 135.8, 101.3, 63.9};
    const double warming = 1.0 + 0.18 * (1.0 - qExp(-minute / 90.0));
    return start[slot] * warming + 0.6 * qSin(minute / 7.0 + slot);
}

}  // namespace

void Settle() {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 50) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

void SetShotTestParameters() {
    ResetTestStateForTests();
    g_strVoltage = QStringLiteral("60.0");
    g_nTestMinutes = 360;
    g_nRecordInterval = 5;
    g_nDiameter = 100;
    g_strTester = QStringLiteral("李明");
    g_strOrganisation = QStringLiteral("市建设工程质量检测中心");
}

NoInstrument::NoInstrument() {
    RunLink::setHooksForTests(RunLink::Hooks{[] { return true; }, [](const QString&, LinkView*) {},
                                             [](std::shared_ptr<LinkView>) { return true; },
                                             [](std::shared_ptr<LinkView>) { return true; }});
}

NoInstrument::~NoInstrument() { RunLink::setHooksForTests({}); }

void FillTwoHoursIn(Testclass& form) {
    form.OnStartTest();
    const int minutesRun = 122;
    double charge[CHANNELS_IN_USE] = {};
    form.setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信正常"));
    for (int minute = 0; minute <= minutesRun; ++minute) {
        for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
            const double mA = currentAt(slot, minute);
            if (minute > 0) charge[slot] += mA / 1000.0 * 60.0;
            form.setChannelCellOnGui(slot, ChannelColumn::Current,
                                     QString::number(mA, 'f', 1) + QStringLiteral("(mA)"));
            form.setChannelCellOnGui(slot, ChannelColumn::Charge,
                                     QString::number(charge[slot], 'f', 1) + QStringLiteral("(C)"));
        }
        if (minute % g_nRecordInterval == 0) form.OnRecordSample();
    }
    form.setItemTextOnGui(FormId::StartTime, QStringLiteral("09:12:30"));
    form.setItemTextOnGui(FormId::RemainingMinutes, QString::number(360 - minutesRun));
    form.setItemTextOnGui(FormId::Voltage, QStringLiteral("60.1"));
    // The specimens have warmed by two degrees or so.
    form.setItemTextOnGui(FormId::Temperature, QString::number(22.0 + minutesRun / 60.0, 'f', 1));
    form.setItemTextOnGui(FormId::TestDate, QStringLiteral("2024-5-20"));
}

void EndPretendedTest() {
    g_bTesting = 0;
    g_bWorkerRun = 0;
    g_bLinkActive = 0;
}
