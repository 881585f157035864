#include "state/test_state.h"

uint8_t g_nComPort = 0;
QString g_strVoltage;
int32_t g_nTestMinutes = 0;
int32_t g_nRecordInterval = 0;
int32_t g_nDiameter = 0;
QString g_strTester;
QString g_strOrganisation;
std::array<QString, MAX_CHANNELS> g_strSpecimenNo;
std::array<uint8_t, MAX_CHANNELS> g_bChannelOff{};

std::atomic<uint32_t> g_nLastRecord{0};
std::array<QString, MAX_CHANNELS> g_strLastCurrent;
std::array<QString, MAX_CHANNELS> g_strLastCharge;

std::atomic<uint8_t> g_bTesting{0};
RunFlag g_bWorkerRun{0};
RunFlag g_bLinkActive{0};

std::array<std::atomic<uint8_t>, COMMAND_QUEUE_SIZE> g_cmdQueue{};
std::atomic<uint8_t> g_cmdQueueHead{0};
std::atomic<uint8_t> g_cmdQueueTail{0};
std::atomic<uint32_t> g_nRetry{0};
std::atomic<int32_t> g_nInstrumentMinutes{-1};

ManualResetEvent g_hEvtTemperature;
ManualResetEvent g_hEvtMinutes;
ManualResetEvent g_hEvtCurrent;
ManualResetEvent g_hEvtCharge;
ManualResetEvent g_hEvtRunState;

ManualResetEvent g_evtCommandQueued;
CommandCode g_nCurCommand{g_evtCommandQueued};

SharedEvent g_hRxStopEvent;

QString g_strCurrentUser;
QString g_strCurrentPassword;

void EnqueueCommand(uint8_t code) {
    uint8_t head = g_cmdQueueHead.load();
    g_cmdQueue[head].store(code);
    g_cmdQueueHead.store(head >= COMMAND_QUEUE_SIZE - 1 ? 0 : static_cast<uint8_t>(head + 1));
    g_evtCommandQueued.set();
}

void EmptyCommandQueue() {
    g_cmdQueueHead.store(0);
    g_cmdQueueTail.store(0);
}

void ResetTestStateForTests() {
    g_nComPort = 0;
    g_strVoltage.clear();
    g_nTestMinutes = 0;
    g_nRecordInterval = 0;
    g_nDiameter = 0;
    g_strTester.clear();
    g_strOrganisation.clear();
    for (auto& s : g_strSpecimenNo) s.clear();
    g_bChannelOff.fill(0);
    g_nLastRecord = 0;
    for (auto& s : g_strLastCurrent) s.clear();
    for (auto& s : g_strLastCharge) s.clear();
    g_bTesting = 0;
    g_bWorkerRun = 0;
    g_bLinkActive = 0;
    for (auto& c : g_cmdQueue) c = 0;
    EmptyCommandQueue();
    g_nCurCommand = 0;
    g_nRetry = 0;
    g_nInstrumentMinutes = -1;
    for (auto* e : {&g_hEvtTemperature, &g_hEvtMinutes, &g_hEvtCurrent, &g_hEvtCharge,
                    &g_hEvtRunState, &g_evtCommandQueued})
        e->reset();
    g_hRxStopEvent.clear();
    g_strCurrentUser.clear();
    g_strCurrentPassword.clear();
}
