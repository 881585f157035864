#include "run/recovered_test.h"

#include <QPointer>

#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"
#include "run/archived_run.h"
#include "run/archived_test_loading.h"
#include "state/test_state.h"

namespace {

// The window of the recovered test whose first start has not been answered yet (GUI thread).
QPointer<Testclass> g_pendingForm;
int32_t g_resumeFromMinutes = 0;

}  // namespace

void TakeUpRecoveredTest(Testclass& form, RecoveredTest recovered) {
    ShowArchivedTest(form, recovered.test);
    form.link()->m_bStarted = 1;  // the start time stays that of the first start
    form.setItemEnabledOnGui(FormId::InitButton, false);
    g_resumeFromMinutes = LastRecordMinutes(recovered.test);
    g_pendingForm = &form;
    form.link()->m_resumeChecked = [](Testclass& f, int32_t minutes) {
        return DecideResume(f, minutes);
    };
    ArchivedRun::adopt(form, recovered.test, std::move(recovered.lock));
}

bool ResumeCheckPending(const Testclass& form) { return g_pendingForm == &form; }

void StartResumeCheck(Testclass& form) {
    if (g_bWorkerRun == 0) form.startCommandCycleOnGui();
    // Until the instrument has answered, a second press would only ask again.
    form.setItemEnabledOnGui(FormId::StartButton, false);
    g_nRetry = 0;
    g_nCurCommand = CMD_CHECK_MINUTES;
}

ResumeDecision DecideResume(Testclass& form, int32_t minutes) {
    g_pendingForm = nullptr;
    if (minutes < g_resumeFromMinutes) {
        form.setItemEnabledOnGui(FormId::StartButton, false);
        form.setItemEnabledOnGui(FormId::InitButton, false);
        ArchivedRun::changeState(archive::TestState::Interrupted);
        form.link()->message(
            QStringLiteral("仪器已重新启动，无法继续原实验；已保存的记录可以导出。"));
        return ResumeDecision::Refuse;
    }
    // Compared as the reply decoder compares the count with the duration.
    if (static_cast<uint32_t>(minutes) >= static_cast<uint32_t>(g_nTestMinutes))
        return ResumeDecision::FinishNow;
    form.setItemEnabledOnGui(FormId::StartButton, true);
    form.StartRunningOnGui();
    ArchivedRun::started(form);
    return ResumeDecision::Resume;
}
