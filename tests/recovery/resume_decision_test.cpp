#include "run/resume_decision.h"

#include <gtest/gtest.h>

namespace {

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
        record.charge[0] = n == 1 ? QStringLiteral("999.0(C)") : charge;
        record.charge[5] = QStringLiteral("500.0(C)");  // not in use: never compared
        test.records.push_back(record);
    }
    return test;
}

TEST(ResumeDecision, TheLastRecordsCountAndWheneverItHoldsAChargeTheChargesDecide) {
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
        ResumeDecision expected;
    };
    const Case cases[] = {
        {"below the last record's count", 15, "30.0(C)", 14, unread, Refuse},
        {"a count that is no count", 15, "30.0(C)", -1, unread, Refuse},
        // Whenever the last record holds a charge, a poll comes before the decision.
        {"equal to the last record's count: the charges first", 15, "30.0(C)", 15, unread,
         ReadChargesFirst},
        {"at the duration: the charges first", 15, "30.0(C)", 60, unread, ReadChargesFirst},
        {"last at minute 0: the charges first", 0, "30.0(C)", 0, unread, ReadChargesFirst},
        {"last without a count: the same", std::nullopt, "30.0(C)", 3, unread, ReadChargesFirst},
        {"equal count, charges at the recorded ones", 15, "30.0(C)", 15, read(30.0), Resume},
        {"above it, short of the duration", 15, "30.0(C)", 59, read(80.5), Resume},
        {"restarted and run past the last count", 15, "30.0(C)", 20, read(12.0), Refuse},
        {"restarted and run past the duration", 15, "30.0(C)", 61, read(29.9), Refuse},
        {"at the duration", 15, "30.0(C)", 60, read(120.0), FinishNow},
        {"past the duration", 15, "30.0(C)", 75, read(150.0), FinishNow},
        {"charges below the recorded ones at minute 0", 0, "30.0(C)", 0, read(0.4), Refuse},
        {"charges at the recorded ones at minute 0", 0, "30.0(C)", 0, read(30.0), Resume},
        {"charges above, count past the duration", 0, "30.0(C)", 61, read(95.5), FinishNow},
        {"no charge recorded yet: nothing to compare", 0, "0.0(C)", 2, unread, Resume},
        {"no charge recorded, count past the last", 15, "0.0(C)", 16, unread, Resume},
    };
    for (const Case& c : cases) {
        const ResumePoint point = ResumePointOf(TestEndingAt(c.lastMinutes, c.lastCharge));
        EXPECT_EQ(point.minutes, c.lastMinutes) << c.what;
        EXPECT_EQ(JudgeResume(point, c.minutes, 60, c.charges), c.expected) << c.what;
    }
}

}  // namespace
