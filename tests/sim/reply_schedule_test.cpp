#include "reply_schedule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "line_timing.h"
#include "reply_text.h"

namespace {

const std::string kText = "0010 0136.25";
const std::string kFrame = ReplyFrame(kText);

struct Piece {
    double dueMs;
    std::string bytes;
};

std::vector<Piece> Drain(ReplySchedule& schedule) {
    std::vector<Piece> pieces;
    while (!schedule.empty()) {
        const double due = schedule.nextDueMs();
        pieces.push_back({due, *schedule.popDue(due)});
    }
    return pieces;
}

std::string Joined(const std::vector<Piece>& pieces) {
    std::string all;
    for (const auto& p : pieces) all += p.bytes;
    return all;
}

TEST(ReplyScheduleTest, WithoutFaultsAReplyIsOneWholeFrameAtOnce) {
    ReplySchedule schedule({}, 1);
    schedule.queue(kText, 10.0);
    EXPECT_FALSE(schedule.popDue(9.9));
    const auto pieces = Drain(schedule);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].dueMs, 10.0);
    EXPECT_EQ(pieces[0].bytes, kFrame);
}

TEST(ReplyScheduleTest, SplitFramesComeInPiecesThatAddUpToTheFrame) {
    ReplyFaults faults;
    faults.split = true;
    ReplySchedule schedule(faults, 3);
    for (int i = 0; i < 20; ++i) {
        schedule.queue(kText, 100.0 * i);
        const auto pieces = Drain(schedule);
        EXPECT_GE(pieces.size(), 2u);
        EXPECT_LE(pieces.size(), 4u);
        EXPECT_EQ(Joined(pieces), kFrame);
        for (std::size_t k = 1; k < pieces.size(); ++k)
            EXPECT_GT(pieces[k].dueMs, pieces[k - 1].dueMs);
    }
}

TEST(ReplyScheduleTest, GarbageFollowsTheFrameAndHoldsNoFrameBytes) {
    ReplyFaults faults;
    faults.garbage = true;
    ReplySchedule schedule(faults, 5);
    for (int i = 0; i < 200; ++i) {
        schedule.queue(kText, 100.0 * i);
        const auto pieces = Drain(schedule);
        ASSERT_EQ(pieces.size(), 2u);
        EXPECT_EQ(pieces[0].bytes, kFrame);
        EXPECT_GT(pieces[1].dueMs, pieces[0].dueMs);
        EXPECT_EQ(pieces[1].bytes.find_first_of(std::string("\x04\x05")), std::string::npos);
    }
}

TEST(ReplyScheduleTest, BrokenFramesLoseOneEndSometimes) {
    ReplyFaults faults;
    faults.brokenFrames = true;
    ReplySchedule schedule(faults, 7);
    int whole = 0, noStart = 0, noEnd = 0;
    for (int i = 0; i < 400; ++i) {
        schedule.queue(kText, 0.0);
        const std::string out = Joined(Drain(schedule));
        if (out == kFrame)
            ++whole;
        else if (out == kFrame.substr(1))
            ++noStart;
        else if (out == kFrame.substr(0, kFrame.size() - 1))
            ++noEnd;
        else
            ADD_FAILURE() << "unexpected output";
    }
    EXPECT_GT(whole, noStart + noEnd);
    EXPECT_GT(noStart, 0);
    EXPECT_GT(noEnd, 0);
}

TEST(ReplyScheduleTest, LateRepliesKeepTheirOrder) {
    ReplyFaults faults;
    faults.lateMs = 300.0;
    ReplySchedule schedule(faults, 1);
    schedule.queue("first-------", 0.0);
    schedule.queue("second------", 10.0);
    EXPECT_EQ(schedule.nextDueMs(), 300.0);
    const auto pieces = Drain(schedule);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[1].dueMs, 310.0);
    EXPECT_EQ(pieces[0].bytes, ReplyFrame("first-------"));
}

TEST(ReplyScheduleTest, LateRangeDrawsDelaysAcrossTheRange) {
    ReplyFaults faults;
    faults.lateMs = 0.0;
    faults.lateMaxMs = 1200.0;
    ReplySchedule schedule(faults, 5);
    int under = 0, over = 0;
    for (int i = 0; i < 300; ++i) {
        const double now = 10000.0 * i;
        schedule.queue(kText, now);
        const auto pieces = Drain(schedule);
        ASSERT_EQ(Joined(pieces), kFrame);
        const double delay = pieces[0].dueMs - now;
        EXPECT_GE(delay, 0.0);
        EXPECT_LE(delay, 1200.0);
        (delay < 1000.0 ? under : over) += 1;
    }
    EXPECT_GT(under, 200);
    EXPECT_GT(over, 20);
}

TEST(ReplyScheduleTest, FaultRatePicksOneFaultForSomeReplies) {
    ReplyFaults faults;
    faults.lateMs = 50.0;
    faults.split = true;
    faults.faultRate = 0.5;
    ReplySchedule schedule(faults, 11);
    int clean = 0, late = 0, split = 0;
    for (int i = 0; i < 400; ++i) {
        const double now = 1000.0 * i;
        schedule.queue(kText, now);
        const auto pieces = Drain(schedule);
        EXPECT_EQ(Joined(pieces), kFrame);
        const bool isLate = pieces[0].dueMs > now;
        const bool isSplit = pieces.size() > 1;
        EXPECT_FALSE(isLate && isSplit) << "one fault per reply";
        clean += !isLate && !isSplit;
        late += isLate;
        split += isSplit;
    }
    EXPECT_GT(clean, 120);
    EXPECT_GT(late, 60);
    EXPECT_GT(split, 60);

    faults.faultRate = 0.0;
    ReplySchedule never(faults, 11);
    never.queue(kText, 0.0);
    EXPECT_EQ(Drain(never).size(), 1u);
}

TEST(ReplyScheduleTest, LineTimingPacesEveryByte) {
    ReplyFaults faults;
    faults.lineTiming = true;
    ReplySchedule schedule(faults, 1);
    schedule.queue(kText, 0.0);
    schedule.queue(kText, 0.0);  // waits for the line
    const auto pieces = Drain(schedule);
    ASSERT_EQ(pieces.size(), 2 * kFrame.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(pieces[i].bytes.size(), 1u);
        EXPECT_NEAR(pieces[i].dueMs, (i + 1) * kLineByteMs, 1e-9);
    }
    EXPECT_EQ(Joined(pieces), kFrame + kFrame);
}

}  // namespace
