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
// from nothing again.

using ChannelCharges = std::array<std::optional<double>, archive::kChannels>;

// The instrument as the test's last record left it.
struct ResumePoint {
    std::optional<int> minutes;  // its minute count, when known
    ChannelCharges charges;      // of the channels in use, when known
};

// The point of the last record of `test`; nothing known when it has no record.
ResumePoint ResumePointOf(const archive::ArchivedTest& test);

// What `minutes`, the instrument's count now, means for a test of `testMinutes` whose last
// record is `last`. `charges` are the instrument's charges now, once read: without them the
// answer is ReadChargesFirst whenever the last record holds a charge above zero. A channel
// without a charge on either side is not compared.
ResumeDecision JudgeResume(const ResumePoint& last, int32_t minutes, int32_t testMinutes,
                           const std::optional<ChannelCharges>& charges);
