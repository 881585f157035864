#include <QPointer>

#include "run/posted_messages.h"
#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"
#include "run/archived_run.h"
#include "run/run_link.h"

// Stopping and finishing a test. Both may run on a link thread (the command cycle on a
// communication failure, the receive thread when the instrument reports the end): the
// flags, events and commands act on the calling thread, every change of the form is made
// on the GUI thread while the caller waits.

void FormLink::showStopped(Testclass& form, const QString& status) {
    form.setChannelStatusOnGui(status);
    form.setItemTextOnGui(FormId::StartButton, QStringLiteral("开始实验"));
    form.setSaveButtonsEnabledOnGui(true);
}

void FormLink::StopTest() {
    ArchivedRun::changeState(archive::TestState::CommFailure);
    stopTest();
}

void FormLink::stopTest() {
    g_bTesting = 0;
    withForm([](Testclass& form) { showStopped(form, QStringLiteral("停止")); });
    RunLink::sendCommand(QStringLiteral("00W071 0000"), this);
    PostToMainFrame(WM_TIMERS_STOP);
    EmptyCommandQueue();
}

void FormLink::FinishTest(bool sendStop, const QString& picturePrompt) {
    setItemText(FormId::RemainingMinutes, QStringLiteral("完成"));
    g_bTesting = 0;
    g_bLinkActive = 0;
    g_bWorkerRun = 0;
    m_hStopEvent.setAndClose();
    g_hRxStopEvent.setAndClose();
    if (sendStop) RunLink::sendCommand(QStringLiteral("00W071 0000"), this);
    PostToMainFrame(WM_TIMERS_STOP);
    withForm([](Testclass& form) {
        form.OnRecordSample();  // the last record of the test
        showStopped(form, QStringLiteral("完成"));
        // A finished test stays finished: a new test needs a new test window.
        form.setItemEnabledOnGui(FormId::StartButton, false);
        form.setItemEnabledOnGui(FormId::InitButton, false);
    });
    ArchivedRun::changeState(sendStop ? archive::TestState::FinishedByMinutes
                                      : archive::TestState::FinishedByInstrument);
    EmptyCommandQueue();
    askAndSave(picturePrompt, m_saveChart);
    askAndSave(QStringLiteral("请确认是否保存数据！"), m_saveExcel);
}

void FormLink::askAndSave(const QString& question, const std::function<void(Testclass&)>& save) {
    withForm([&](Testclass& form) {
        // The form may go away while the question is open.
        QPointer<Testclass> guard(&form);
        const MessageBox::Result answer =
            MessageBox::show(&form, question, QString(), MessageBox::Buttons::OkCancel,
                             MessageBox::Icon::Exclamation);
        if (answer == MessageBox::Ok && guard) save(*guard);
    });
}
