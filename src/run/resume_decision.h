#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "archive/archive_rows.h"
#include "link/link_view.h"

// Whether a recovered test can go on, judged from what the instrument says now against what
// the test's last record holds.
//
// The instrument counts its minutes and the channels' charges from its own start. Below the
// last record's minute count it was switched off or initialised meanwhile and its charges no
// longer belong to the test. At or above it, the count alone cannot tell an instrument that
// kept running from one restarted and run on past the count: the charges decide as well,
// whenever the last record holds one, because a restarted instrument counts its charges
// from nothing again. The time since the last record tells as well: an instrument that kept
// running has counted on by that time (it may have stopped only when the test was paused or
// at the duration), and none can have counted further; only when the PC's clock was put back
// (it stands before a time already kept for the test) is a count further than that left to
// the charges of a running test whose last record holds one above zero.

using ChannelCharges = std::array<std::optional<double>, archive::kChannels>;

// The instrument as the test's last record left it.
struct ResumePoint {
    std::optional<int> minutes;  // its minute count, when known
    ChannelCharges charges;      // of the channels in use, when known
    qint64 atMs = 0;             // when it was taken (wall clock), 0 when not known
    bool running = false;        // the test ran when its program ended (not paused)
    qint64 newestMs = 0;         // the newest time kept for the test (start, record, state change)
};

// The time since a resume point, as the wall clock tells it.
struct TimeSince {
    std::optional<double> minutes;  // program minutes, when known
    bool clockPutBack = false;      // the wall clock stands before a time kept for the test
};

// The point of the last record of `test`; nothing known when it has no record.
ResumePoint ResumePointOf(const archive::ArchivedTest& test);

// The time since `point` was taken, at `nowMs` on the wall clock with the program's clock
// running `factor` times faster: no minutes when not known (no time kept, or a wall clock
// before the point's).
TimeSince TimeSincePoint(const ResumePoint& point, qint64 nowMs, double factor);

// What `minutes`, the instrument's count now, means for a test of `testMinutes` whose last
// record is `last`, taken `since` ago. `charges` are the instrument's charges now, once read:
// without them the answer is ReadChargesFirst whenever the last record holds a charge above
// zero. A channel without a charge on either side is not compared.
ResumeDecision JudgeResume(const ResumePoint& last, int32_t minutes, int32_t testMinutes,
                           const std::optional<ChannelCharges>& charges, const TimeSince& since);
