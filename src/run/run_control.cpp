#include <QPointer>
#include <QTime>

#include "run/posted_messages.h"
#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"
#include "run/init_progress_dlg.h"
#include "run/archived_run.h"
#include "run/recovered_test.h"
#include "run/run_audit.h"
#include "run/run_link.h"
#include "run/temperature_watch.h"
#include "state/test_state.h"

// Device initialisation, start and pause of a test on the form (GUI thread).

namespace {

const QString kNoPort = QStringLiteral("请设置通信端口!");

QString timeOfDay() {
    const QTime now = QTime::currentTime();
    return QString::asprintf("%02d:%02d:%02d", now.hour(), now.minute(), now.second());
}

}  // namespace

void Testclass::setChannelStatusOnGui(const QString& word) {
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot)
        if (g_bChannelOff[slot] == 0) setChannelCellOnGui(slot, ChannelColumn::Status, word);
}

void Testclass::setSaveButtonsEnabledOnGui(bool enabled) {
    for (int id = FormId::SaveText; id <= FormId::CloseTest; ++id) setItemEnabledOnGui(id, enabled);
}

void Testclass::startCommandCycleOnGui() {
    g_bWorkerRun = 1;
    // The event exists before the cycle starts, so the cycle never finds the slot empty.
    m_link->m_hStopEvent.create();
    if (!RunLink::startCommandCycle(m_link)) m_link->message(QStringLiteral("创建接收线程失败1!"));
}

void Testclass::OnDeviceInit() {
    if (!RunLink::portIsOpen()) {
        setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信故障"));
        m_link->message(kNoPort);
        return;
    }
    if (!RunLink::resumeLink(m_link)) {
        setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信故障"));
        return;
    }
    // A new test: the instrument's minute count of an earlier one must not reach its records.
    g_nInstrumentMinutes = -1;
    // Codes queued while no cycle took them (the timers of a test started after a failed
    // check) are stale: the new cycle must not send them all at once before its check.
    EmptyCommandQueue();
    startCommandCycleOnGui();
    setItemEnabledOnGui(FormId::InitButton, false);
    RunLink::sendCommand(QStringLiteral("00W070 1111"), m_link.get());

    // The box ends by itself (or on Escape/Enter); its answer does not matter. It lives on
    // the heap so that a form going away meanwhile takes it along safely.
    QPointer<Testclass> self(this);
    QPointer<CInitProgressDlg> box = new CInitProgressDlg(this);
    box->exec();
    if (!self) return;
    delete box.data();

    // The command cycle now runs the initialisation check.
    g_nCurCommand = 1;
}

void Testclass::OnStartTest() {
    if (!RunLink::portIsOpen()) {
        m_link->message(kNoPort);
        return;
    }
    if (g_bTesting == 0) {
        if (!RunLink::resumeLink(m_link)) return;
        if (ResumeCheckPending(*this)) {
            StartResumeCheck(*this);
            return;
        }
    }
    const bool starting = g_bTesting == 0;
    if (starting) {
        StartRunningOnGui();
    } else {
        RunAudit::record(QStringLiteral("paused_operator"));
        StopTest();
    }
    if (m_link->m_bStarted == 0) {
        m_link->m_bStarted = 1;
        setItemTextOnGui(FormId::StartTime, timeOfDay());
    }
    if (starting) ArchivedRun::started(*this);
}

void Testclass::StartRunningOnGui() {
    if (g_bWorkerRun == 0) {
        startCommandCycleOnGui();
        setItemEnabledOnGui(FormId::InitButton, false);
    }
    g_bTesting = 1;
    WatchTemperature(*this);
    setChannelStatusOnGui(QStringLiteral("运行"));
    setItemTextOnGui(FormId::StartButton, QStringLiteral("暂停"));
    setSaveButtonsEnabledOnGui(false);
    g_nRetry = 0;
    RunLink::sendCommand(QStringLiteral("01W071 1111"), m_link.get());
    PostToMainFrame(WM_TIMERS_START);
}

void Testclass::StopTest() {
    ArchivedRun::changeState(archive::TestState::Paused);
    m_link->stopTest();
}

void Testclass::FinishTest(bool sendStop, const QString& picturePrompt) {
    m_link->FinishTest(sendStop, picturePrompt);
}
