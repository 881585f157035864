#include "run/resume_decision.h"

#include <gtest/gtest.h>

namespace {

// When the last record was taken, on the wall clock.
constexpr qint64 kLastAtMs = 1'765'000'000'000;

// A recovered test of 60 minutes, its last record at `minutes` with `charge` on channel 1 and
// none on the others (channel 6 unused).
archive::ArchivedTest TestEndingAt(std::optional<int> minutes, const QString& charge) {
    archive::ArchivedTest test;
    test.header.testMinutes = 60;
    test.header.channelOff[5] = 1;
    for (int n = 1; n <= 2; ++n) {
        archive::RecordRow record;
        record.number = n;
        // An earlier record with a higher count than the last: the last one counts.
        record.minutes = n == 1 ? std::optional<int>(40) : minutes;
        record.atMs = kLastAtMs - (2 - n) * 300000;
        record.charge[0] = n == 1 ? QStringLiteral("999.0(C)") : charge;
        record.charge[5] = QStringLiteral("500.0(C)");  // not in use: never compared
        test.records.push_back(record);
    }
    return test;
}

TEST(ResumeDecision, TheLastRecordsCountTheTimeSinceAndWheneverItHoldsAChargeTheChargesDecide) {
    using enum ResumeDecision;
    const std::optional<ChannelCharges> unread;
    const auto read = [](double channel1) {
        ChannelCharges charges;
        charges[0] = channel1;
        charges[5] = 0.0;
        return std::optional<ChannelCharges>(charges);
    };
    struct Case {
        const char* what;
        std::optional<int> lastMinutes;
        QString lastCharge;
        int32_t minutes;
        std::optional<ChannelCharges> charges;
        double since;  // wall-clock minutes since the last record (below zero: clock set back)
        ResumeDecision expected;
        bool paused = false;  // the test was paused when its program ended
        double factor = 1.0;  // of the program's clock
    };
    const Case cases[] = {
        {"below the last record's count", 15, "30.0(C)", 14, unread, 0, Refuse},
        {"a count that is no count", 15, "30.0(C)", -1, unread, 0, Refuse},
        // Whenever the last record holds a charge, a poll comes before the decision.
        {"equal to the last record's count: the charges first", 15, "30.0(C)", 15, unread, 0.2,
         ReadChargesFirst},
        {"at the duration: the charges first", 15, "30.0(C)", 60, unread, 45, ReadChargesFirst},
        {"last at minute 0: the charges first", 0, "30.0(C)", 0, unread, 0, ReadChargesFirst},
        {"last without a count: the same", std::nullopt, "30.0(C)", 3, unread, 3, ReadChargesFirst},
        {"equal count, charges at the recorded ones", 15, "30.0(C)", 15, read(30.0), 0.5, Resume},
        {"above it, short of the duration", 15, "30.0(C)", 59, read(80.5), 44, Resume},
        {"restarted and run past the last count", 15, "30.0(C)", 20, read(12.0), 5, Refuse},
        {"restarted and run past the duration", 15, "30.0(C)", 61, read(29.9), 46, Refuse},
        {"at the duration", 15, "30.0(C)", 60, read(120.0), 45, FinishNow},
        {"past the duration", 15, "30.0(C)", 75, read(150.0), 60, FinishNow},
        {"charges below the recorded ones at minute 0", 0, "30.0(C)", 0, read(0.4), 0, Refuse},
        {"charges at the recorded ones at minute 0", 0, "30.0(C)", 0, read(30.0), 0, Resume},
        {"charges above, count past the duration", 0, "30.0(C)", 61, read(95.5), 61, FinishNow},
        {"no charge recorded yet: nothing to compare", 0, "0.0(C)", 2, unread, 2, Resume},
        {"no charge recorded, count past the last", 15, "0.0(C)", 16, unread, 1, Resume},
        // The time since the last record: a count short of what a running instrument has
        // counted since, or further than any could have, is a restarted instrument's; only a
        // clock put back (now before the last record) leaves a further count to the charges.
        {"restarted, run past the last count, short of the time", 15, "0.0(C)", 20, unread, 30,
         Refuse},
        {"the same with a charge: no poll needed", 15, "30.0(C)", 20, unread, 30, Refuse},
        {"further than the time allows", 15, "30.0(C)", 40, read(70.0), 5, Refuse},
        {"clock put back: the charges first", 15, "30.0(C)", 40, unread, -10, ReadChargesFirst},
        {"clock put back, charges carried on", 15, "30.0(C)", 40, read(70.0), -10, Resume},
        {"clock put back, charges fallen", 15, "30.0(C)", 40, read(12.0), -10, Refuse},
        {"clock put back, no charge to tell", 15, "0.0(C)", 40, unread, -10, Refuse},
        {"clock put back, paused", 15, "30.0(C)", 40, read(70.0), -10, Refuse, true},
        {"a minute short is the count's rounding", 15, "0.0(C)", 19, unread, 6, Resume},
        {"paused: it may have stopped counting", 15, "0.0(C)", 16, unread, 30, Resume, true},
        {"paused, yet further than possible", 15, "30.0(C)", 40, read(70.0), 5, Refuse, true},
        {"stopped at the duration long ago", 15, "30.0(C)", 60, read(120.0), 100, FinishNow},
        {"clock put back, a count within the slack", 15, "0.0(C)", 16, unread, -10, Resume},
        {"a program clock 30 times faster", 15, "0.0(C)", 16, unread, 1, Refuse, false, 30},
        {"the same, its count where it must be", 15, "0.0(C)", 45, unread, 1, Resume, false, 30},
    };
    for (const Case& c : cases) {
        archive::ArchivedTest test = TestEndingAt(c.lastMinutes, c.lastCharge);
        if (c.paused) test.state = archive::TestState::Paused;
        const ResumePoint point = ResumePointOf(test);
        EXPECT_EQ(point.minutes, c.lastMinutes) << c.what;
        const auto nowMs = kLastAtMs + qint64(c.since * 60000);
        const TimeSince since = TimeSincePoint(point, nowMs, c.factor);
        EXPECT_EQ(JudgeResume(point, c.minutes, 60, c.charges, since), c.expected) << c.what;
    }
}

}  // namespace
