#include "request_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "line_timing.h"

namespace {

std::vector<std::string> Feed(RequestFramer& framer, const std::string& bytes) {
    std::vector<std::string> texts;
    for (auto& r : framer.feed(bytes.data(), bytes.size())) texts.push_back(r.text);
    return texts;
}

using Texts = std::vector<std::string>;

TEST(RequestFramerTest, JoinsFramesSplitAcrossBlocks) {
    RequestFramer framer;
    EXPECT_EQ(Feed(framer, "S00R"), Texts{});
    EXPECT_TRUE(framer.inFrame());
    EXPECT_EQ(Feed(framer, "03"), Texts{});
    EXPECT_EQ(Feed(framer, "0ES10R0"), Texts{"00R030"});
    EXPECT_EQ(Feed(framer, "10E"), Texts{"10R010"});
    EXPECT_FALSE(framer.inFrame());
}

TEST(RequestFramerTest, SkipsGarbageAndRestartsOnEveryStart) {
    RequestFramer framer;
    EXPECT_EQ(Feed(framer, std::string("\x00\xffzzE05", 7) + "S00W071 0000E..xS02R071E"),
              (Texts{"00W071 0000", "02R071"}));
    // A frame cut short by a new start is abandoned.
    EXPECT_EQ(Feed(framer, "S11R0S12R060E"), Texts{"12R060"});
}

TEST(RequestFramerTest, MapsColonToQuestionMarkBackToLetters) {
    RequestFramer framer;
    EXPECT_EQ(Feed(framer, "S0:;<=>?E"), Texts{"0abcdef"});
    EXPECT_EQ(Feed(framer, "SE"), Texts{""});
}

TEST(RequestFramerTest, DropsRunawayFramesAndRecovers) {
    RequestFramer framer;
    EXPECT_EQ(Feed(framer, "S" + std::string(RequestFramer::kMaxText + 10, '1') + "E"), Texts{});
    EXPECT_FALSE(framer.inFrame());
    EXPECT_EQ(Feed(framer, "S" + std::string(RequestFramer::kMaxText, '2') + "E"),
              Texts{std::string(RequestFramer::kMaxText, '2')});
}

TEST(RequestFramerTest, ReportsWhereEachFrameEnded) {
    RequestFramer framer;
    const std::string block = "xS00R030ES00R031E";
    const auto requests = framer.feed(block.data(), block.size());
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].endOffset, 8u);
    EXPECT_EQ(requests[1].endOffset, 16u);
}

TEST(InputWireTest, BytesArriveAtLineSpeedAndQueueBehindEachOther) {
    InputWire paced(true);
    paced.receive(8, 100.0);
    EXPECT_NEAR(paced.arrival(7), 100.0 + 8 * kLineByteMs, 1e-9);
    // A second block read while the first is still on the wire waits for it.
    paced.receive(8, 101.0);
    EXPECT_NEAR(paced.arrival(0), 100.0 + 9 * kLineByteMs, 1e-9);
    // An idle line takes the next block at once.
    paced.receive(1, 500.0);
    EXPECT_NEAR(paced.arrival(0), 500.0 + kLineByteMs, 1e-9);

    InputWire instant(false);
    instant.receive(8, 42.0);
    EXPECT_EQ(instant.arrival(7), 42.0);
}

}  // namespace
