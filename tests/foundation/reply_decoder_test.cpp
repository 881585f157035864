#include <gtest/gtest.h>

#include <random>
#include <string>

#include "link/reply_decoder.h"
#include "monitor/form_ids.h"
#include "support/recording_view.h"
#include "state/test_state.h"

namespace {

class ReplyDecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetTestStateForTests();
        ResetReplyAccumulator();
    }
    void feed(const std::string& bytes) { DecodeReply(&view, bytes.data(), bytes.size()); }
    static std::string frame(const std::string& text) { return "\x04" + text + "\x05"; }
    RecordingView view;
};

TEST_F(ReplyDecoderTest, JoinsFramesAcrossBlocksAndDropsBytesBehindTheEnd) {
    g_nCurCommand = CMD_READ_CHANNELS;
    feed(std::string("\x04") + "0210 00");
    EXPECT_EQ(view.channelCell(2, ChannelColumn::Current), "");
    feed(std::string("12.50") + "\x05");
    EXPECT_EQ(view.channelCell(2, ChannelColumn::Current), "12.50(mA)");
    EXPECT_EQ(view.itemText(FormId::CommStatus), "通信正常");
    EXPECT_TRUE(g_hEvtCurrent.isSet());

    // Bytes after the end byte are dropped with the rest of the block.
    feed(frame("0360 0001.25") + "0460 0009.99");
    EXPECT_EQ(view.channelCell(3, ChannelColumn::Charge), "1.25(C)");
    EXPECT_EQ(ReplyAccumulator(), "0360 0001.25");
}

TEST_F(ReplyDecoderTest, WrongLengthsAreNotDecoded) {
    g_nCurCommand = CMD_READ_CHANNELS;
    // A start byte in the middle is an ordinary character: eleven characters, no decode.
    feed(std::string("\x04") + "0110 0" + "\x04" + "10.0" + "\x05");
    EXPECT_EQ(view.cellCount(), 0);
    EXPECT_EQ(view.itemText(FormId::CommStatus), "");

    // A block without a start byte is appended to what is there.
    ResetReplyAccumulator();
    feed("0110 0");
    feed("010.00");
    EXPECT_EQ(view.channelCell(1, ChannelColumn::Current), "10.00(mA)");
    feed("garbage");  // now too long: nothing more decodes until an end byte cuts it
    EXPECT_EQ(ReplyAccumulator().size(), 13u);
    feed(std::string("\x05"));
    EXPECT_EQ(ReplyAccumulator(), "0110 0010.00");
}

TEST_F(ReplyDecoderTest, TrimRulesOfEveryCode) {
    g_nCurCommand = CMD_READ_CHANNELS;
    feed(frame("0041 0000000"));
    EXPECT_EQ(view.channelCell(1, ChannelColumn::Current), "(mA)");
    feed(frame("0042 0000.35"));
    EXPECT_EQ(view.channelCell(2, ChannelColumn::Current), "0.35(mA)");
    feed(frame("0310 0012.50"));
    EXPECT_EQ(view.channelCell(3, ChannelColumn::Current), "12.50(mA)");
    feed(frame("0360 0001.25"));
    EXPECT_EQ(view.channelCell(3, ChannelColumn::Charge), "1.25(C)");
    feed(frame("0065 0123.40"));
    EXPECT_EQ(view.channelCell(5, ChannelColumn::Charge), "123.40(C)");

    g_nCurCommand = CMD_READ_TEST;
    feed(frame("0030 0025.30"));
    EXPECT_EQ(view.itemText(FormId::Temperature), "25.3");
    EXPECT_TRUE(g_hEvtTemperature.isSet());
    feed(frame("0046 060.00V"));
    EXPECT_EQ(view.itemText(FormId::Voltage), "60.00");
    feed(frame("0030 000.500"));
    EXPECT_EQ(view.itemText(FormId::Temperature), ".50");

    EXPECT_EQ(TrimZerosKeepingPoint("0012.50"), "12.50");
    EXPECT_EQ(TrimZerosKeepingPoint("0000000"), "");
    EXPECT_EQ(TrimZeros("002.50"), "2.50");
}

TEST_F(ReplyDecoderTest, RowsOutsideTheTableChangeNothingButSetTheirEvent) {
    g_nCurCommand = CMD_READ_CHANNELS;
    feed(frame("0048 0001.00"));
    EXPECT_TRUE(g_hEvtCurrent.isSet());
    feed(frame("0068 0001.00"));
    EXPECT_TRUE(g_hEvtCharge.isSet());
    feed(frame("0910 0001.00"));  // row 9 by prefix
    EXPECT_EQ(view.cellCount(), 0);
    // "46" while the channels are read is the current of row 6, which does not exist.
    feed(frame("0046 0001.00"));
    EXPECT_EQ(view.cellCount(), 0);
    EXPECT_EQ(view.itemText(FormId::Voltage), "");
}

TEST_F(ReplyDecoderTest, CodesOnlyCountForTheirCommand) {
    g_nCurCommand = 0;
    feed(frame("0110 0010.00"));
    EXPECT_EQ(view.cellCount(), 0);
    EXPECT_EQ(view.itemText(FormId::CommStatus), "");

    g_nCurCommand = CMD_READ_TEST;
    feed(frame("0110 0010.00"));  // a channel code during the test-value read
    EXPECT_EQ(view.cellCount(), 0);
    EXPECT_FALSE(g_hEvtCurrent.isSet());
    EXPECT_EQ(view.itemText(FormId::CommStatus), "通信正常");

    g_nCurCommand = 20;
    view.setItemText(FormId::CommStatus, "通信故障");
    feed(frame("0030 0025.30"));
    EXPECT_EQ(view.itemText(FormId::CommStatus), "通信故障");
}

TEST_F(ReplyDecoderTest, MinuteCountFinishesAtTheDuration) {
    g_nCurCommand = CMD_READ_TEST;
    g_nTestMinutes = 360;
    feed(frame("0031 0000359"));
    EXPECT_EQ(view.itemText(FormId::RemainingMinutes), "1");
    EXPECT_EQ(g_nInstrumentMinutes.load(), 359);  // kept for the records of the archive
    EXPECT_TRUE(g_hEvtMinutes.isSet());
    EXPECT_TRUE(view.finishes().empty());
    feed(frame("0031 0000360"));
    ASSERT_EQ(view.finishes().size(), 1u);
    EXPECT_TRUE(view.finishes()[0].sendStop);
    EXPECT_EQ(view.finishes()[0].prompt, "请确认是否保存图片！");
    // A negative count is a very large unsigned number: also past the duration.
    feed(frame("0031 -000001"));
    EXPECT_EQ(view.finishes().size(), 2u);
}

TEST_F(ReplyDecoderTest, RunStateFinishesOnlyOnZero) {
    g_nCurCommand = CMD_READ_RUNSTATE;
    feed(frame("0071 0000001"));
    EXPECT_TRUE(g_hEvtRunState.isSet());
    EXPECT_TRUE(view.finishes().empty());
    feed(frame("0071 0000000"));
    ASSERT_EQ(view.finishes().size(), 1u);
    EXPECT_FALSE(view.finishes()[0].sendStop);
    EXPECT_EQ(view.finishes()[0].prompt, "请确认是否保存图片2！");
}

TEST_F(ReplyDecoderTest, RandomBlocksNeitherCrashNorGrowTheAccumulator) {
    std::mt19937 rng(20261207);
    std::uniform_int_distribution<int> length(1, 2000);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> command(0, 7);
    g_nTestMinutes = 1000000;  // keep the random minute counts from finishing
    std::string block;
    std::size_t longest = 0;
    for (int n = 0; n < 100000; ++n) {
        block.resize(static_cast<std::size_t>(length(rng) % (n % 10 == 0 ? 2000 : 40) + 1));
        for (char& c : block) {
            int b = byte(rng);
            c = static_cast<char>(b < 8 ? 0x04 : b < 16 ? 0x05 : b);
        }
        g_nCurCommand = static_cast<uint8_t>(command(rng));
        DecodeReply(&view, block.data(), block.size());
        longest = std::max(longest, ReplyAccumulator().size());
    }
    EXPECT_LE(longest, 13u);
}

}  // namespace
