#include "run/resume_decision.h"

#include "export/report_plan.h"

ResumePoint ResumePointOf(const archive::ArchivedTest& test) {
    ResumePoint point;
    if (test.records.empty()) return point;
    const archive::RecordRow& last = test.records.back();
    point.minutes = last.minutes;
    for (int slot = 0; slot < archive::kChannels; ++slot) {
        const QString& charge = last.charge[slot];
        if (test.header.channelOff[slot] == 0 && !charge.isEmpty())
            point.charges[slot] = ChargeValue(charge);
    }
    return point;
}

ResumeDecision JudgeResume(const ResumePoint& last, int32_t minutes, int32_t testMinutes,
                           const std::optional<ChannelCharges>& charges) {
    if (minutes < last.minutes.value_or(0)) return ResumeDecision::Refuse;
    // A count at or past the last record's may still belong to an instrument restarted and run
    // on since: its charges then start again from nothing. Only a charge above zero can be
    // found to have fallen.
    bool telling = false;
    for (const std::optional<double>& charge : last.charges) telling |= charge > 0.0;
    if (telling && !charges) return ResumeDecision::ReadChargesFirst;
    for (int slot = 0; telling && slot < archive::kChannels; ++slot) {
        const std::optional<double>& before = last.charges[slot];
        const std::optional<double>& now = (*charges)[slot];
        if (before && now && *now < *before) return ResumeDecision::Refuse;
    }
    // Compared as the reply decoder compares the count with the duration.
    if (static_cast<uint32_t>(minutes) >= static_cast<uint32_t>(testMinutes))
        return ResumeDecision::FinishNow;
    return ResumeDecision::Resume;
}
