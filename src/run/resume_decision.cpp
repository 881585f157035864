#include "run/resume_decision.h"

#include <cmath>

#include "export/report_plan.h"

namespace {

// How far an instrument that kept running may stand from the count the time since the last
// record gives: a minute for the rounding of the count, one for the time between the poll a
// record takes its count from and the record.
constexpr double kCountSlackMinutes = 2.0;

// Whether `minutes` falls short of what an instrument that counted on from `last` for
// `elapsed` minutes must have counted (unless the test was paused, when it may have stopped;
// it stops at the duration). A count further than the time allows is no proof: the PC's clock
// may have been put back since the last record, which shortens the time since.
bool CountTooShort(const ResumePoint& last, int32_t minutes, int32_t testMinutes, double elapsed) {
    if (!last.minutes || !last.running) return false;
    const double reached = *last.minutes + elapsed;
    return minutes < std::min(reached, double(testMinutes)) - kCountSlackMinutes;
}

}  // namespace

ResumePoint ResumePointOf(const archive::ArchivedTest& test) {
    ResumePoint point;
    if (test.records.empty()) return point;
    const archive::RecordRow& last = test.records.back();
    point.minutes = last.minutes;
    point.atMs = last.atMs;
    point.running = test.state == archive::TestState::Running;
    for (int slot = 0; slot < archive::kChannels; ++slot) {
        const QString& charge = last.charge[slot];
        if (test.header.channelOff[slot] == 0 && !charge.isEmpty())
            point.charges[slot] = ChargeValue(charge);
    }
    return point;
}

std::optional<double> MinutesSince(const ResumePoint& point, qint64 nowMs, double factor) {
    if (point.atMs <= 0 || nowMs < point.atMs) return std::nullopt;
    return double(nowMs - point.atMs) * factor / 60000.0;
}

ResumeDecision JudgeResume(const ResumePoint& last, int32_t minutes, int32_t testMinutes,
                           const std::optional<ChannelCharges>& charges,
                           std::optional<double> elapsed) {
    if (minutes < last.minutes.value_or(0)) return ResumeDecision::Refuse;
    // The count alone tells when it falls short of the time since the last record.
    if (elapsed && CountTooShort(last, minutes, testMinutes, *elapsed))
        return ResumeDecision::Refuse;
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
