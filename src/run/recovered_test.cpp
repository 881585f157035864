#include "run/recovered_test.h"

#include <QDateTime>
#include <QPointer>

#include "export/report_plan.h"
#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"
#include "platform/time_scale.h"
#include "run/archived_run.h"
#include "run/archived_test_loading.h"
#include "run/resume_decision.h"
#include "state/test_state.h"

namespace {

// The check of the first start of the recovered test (GUI thread): its window, until the check
// has had its answer; the point the test resumes from; whether the charges were asked for.
struct PendingCheck {
    QPointer<Testclass> form;
    ResumePoint from;
    bool chargesAsked = false;
};
PendingCheck g_check;

// The charges the channel table shows, of the channels in use.
ChannelCharges ShownCharges(const Testclass& form) {
    ChannelCharges charges;
    for (int slot = 0; slot < archive::kChannels; ++slot) {
        const QString text = form.channelCellOnGui(slot, ChannelColumn::Charge);
        if (g_bChannelOff[slot] == 0 && !text.isEmpty()) charges[slot] = ChargeValue(text);
    }
    return charges;
}

}  // namespace

void TakeUpRecoveredTest(Testclass& form, RecoveredTest recovered) {
    ShowArchivedTest(form, recovered.test);
    form.link()->m_bStarted = 1;  // the start time stays that of the first start
    form.setItemEnabledOnGui(FormId::InitButton, false);
    g_nInstrumentMinutes = -1;  // not known until the instrument tells
    g_check = PendingCheck{&form, ResumePointOf(recovered.test), false};
    form.link()->m_resumeChecked = [](Testclass& f, int32_t minutes) {
        return DecideResume(f, minutes);
    };
    ArchivedRun::adopt(form, recovered.test, std::move(recovered.lock));
}

bool ResumeCheckPending(const Testclass& form) { return g_check.form == &form; }

void StartResumeCheck(Testclass& form) {
    if (g_bWorkerRun == 0) form.startCommandCycleOnGui();
    // Until the instrument has answered, a second press would only ask again.
    form.setItemEnabledOnGui(FormId::StartButton, false);
    g_check.chargesAsked = false;
    g_nRetry = 0;
    g_nCurCommand = CMD_CHECK_MINUTES;
}

ResumeDecision DecideResume(Testclass& form, int32_t minutes) {
    return DecideResume(form, minutes, QDateTime::currentMSecsSinceEpoch());
}

ResumeDecision DecideResume(Testclass& form, int32_t minutes, qint64 nowMs) {
    std::optional<ChannelCharges> charges;
    if (g_check.chargesAsked) charges = ShownCharges(form);
    const TimeSince since = TimeSincePoint(g_check.from, nowMs, TimeScale::factor());
    const ResumeDecision decision =
        JudgeResume(g_check.from, minutes, g_nTestMinutes, charges, since);
    if (decision == ResumeDecision::ReadChargesFirst) {
        g_check.chargesAsked = true;
        return decision;
    }
    g_check.form = nullptr;
    if (decision == ResumeDecision::Refuse) {
        form.setItemEnabledOnGui(FormId::StartButton, false);
        form.setItemEnabledOnGui(FormId::InitButton, false);
        ArchivedRun::changeState(archive::TestState::Interrupted);
        form.link()->message(
            QStringLiteral("仪器已重新启动，无法继续原实验；已保存的记录可以导出。"));
        return decision;
    }
    if (decision == ResumeDecision::FinishNow) return decision;
    form.setItemEnabledOnGui(FormId::StartButton, true);
    form.StartRunningOnGui();
    ArchivedRun::started(form);
    return decision;
}
