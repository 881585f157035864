#include "run/resume_decision.h"

#include <algorithm>
#include <cmath>

#include "export/report_plan.h"

namespace {

// How far an instrument that kept running may stand from the count the time since the last
// record gives: a minute for the rounding of the count, one for the time between the poll a
// record takes its count from and the record.
constexpr double kCountSlackMinutes = 2.0;

// Whether `minutes` cannot be the count of an instrument that counted on from `last` for
// `since`: short of what it must have counted (unless the test was paused, when it may have
// stopped; it stops at the duration), or further than it could have. A wall clock put back
// leaves the time since too short, or unknown (taken as none): a count further than that is
// then left to the charges when the last record holds one to compare and the test was running.
bool CountImpossible(const ResumePoint& last, int32_t minutes, int32_t testMinutes,
                     const TimeSince& since, bool telling) {
    if (!last.minutes) return false;
    if (!since.minutes && !since.clockPutBack) return false;
    const double reached = *last.minutes + since.minutes.value_or(0.0);
    const bool beyondLeftToCharges = since.clockPutBack && telling && last.running;
    if (minutes > reached + kCountSlackMinutes && !beyondLeftToCharges) return true;
    if (!last.running || !since.minutes) return false;
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
    point.newestMs = test.header.startedAtMs;
    for (const archive::RecordRow& record : test.records)
        point.newestMs = std::max(point.newestMs, record.atMs);
    for (const archive::StateChange& change : test.states)
        point.newestMs = std::max(point.newestMs, change.atMs);
    for (int slot = 0; slot < archive::kChannels; ++slot) {
        const QString& charge = last.charge[slot];
        if (test.header.channelOff[slot] == 0 && !charge.isEmpty())
            point.charges[slot] = ChargeValue(charge);
    }
    return point;
}

TimeSince TimeSincePoint(const ResumePoint& point, qint64 nowMs, double factor) {
    TimeSince since;
    since.clockPutBack = nowMs < point.newestMs;
    if (point.atMs > 0 && nowMs >= point.atMs)
        since.minutes = double(nowMs - point.atMs) * factor / 60000.0;
    return since;
}

ResumeDecision JudgeResume(const ResumePoint& last, int32_t minutes, int32_t testMinutes,
                           const std::optional<ChannelCharges>& charges, const TimeSince& since) {
    if (minutes < last.minutes.value_or(0)) return ResumeDecision::Refuse;
    // A count at or past the last record's may still belong to an instrument restarted and run
    // on since: its charges then start again from nothing. Only a charge above zero can be
    // found to have fallen.
    bool telling = false;
    for (const std::optional<double>& charge : last.charges) telling |= charge > 0.0;
    // The count alone tells when the time since the last record rules it out.
    if (CountImpossible(last, minutes, testMinutes, since, telling)) return ResumeDecision::Refuse;
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
