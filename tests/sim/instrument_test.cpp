#include "instrument.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "reply_text.h"

namespace {

TEST(ReplyTextTest, ReadingsFillSevenCharacters) {
    EXPECT_EQ(FormatReading(136.25), "0136.25");
    EXPECT_EQ(FormatReading(4550.12), "4550.12");
    EXPECT_EQ(FormatReading(25.3), "0025.30");
    EXPECT_EQ(FormatReading(0.004), "0000.00");
    EXPECT_EQ(FormatReading(9999.994), "9999.99");
    // Fewer decimals once the integer part grows, rounding included.
    EXPECT_EQ(FormatReading(9999.996), "10000.0");
    EXPECT_EQ(FormatReading(12345.64), "12345.6");
    EXPECT_EQ(FormatReading(99999.96), "0100000");
    EXPECT_EQ(FormatReading(1234567.4), "1234567");
    EXPECT_EQ(FormatReading(5e9), "9999999");
    EXPECT_EQ(FormatReading(-3.0), "0000.00");
    EXPECT_EQ(FormatCount(123), "0000123");
    EXPECT_EQ(FormatCount(123456789), "9999999");
    EXPECT_EQ(ReplyFrame(ReplyText(3, "60", "4550.12")),
              "\x04"
              "0360 4550.12\x05");
}

class InstrumentTest : public ::testing::Test {
  protected:
    InstrumentTest() : model(1) { model.setInitialCurrents({100, 110, 120, 130, 140, 150}); }
    std::optional<std::string> ask(const char* command, double wallMs = 0.0) {
        return instrument->handle(command, wallMs);
    }
    void make(AnswerFaults faults = {}) { instrument.emplace(model, faults); }
    SimModel model;
    std::optional<Instrument> instrument;
};

TEST_F(InstrumentTest, AnswersEveryReadRequestInTheReplyLayout) {
    make();
    EXPECT_EQ(ask("00R030"), "0030 0020.00");
    EXPECT_EQ(ask("00R031"), "0031 0000000");
    EXPECT_EQ(ask("02R071"), "0071 0000000");
    EXPECT_EQ(ask("10R010"), "0010 0100.00");
    EXPECT_EQ(ask("15R010"), "0510 0150.00");
    EXPECT_EQ(ask("12R060"), "0260 0000.00");
    for (const char* unknown : {"16R010", "09R060", "00R032", "10R011", "1xR010", "", "00R0300"})
        EXPECT_FALSE(ask(unknown)) << unknown;
}

TEST_F(InstrumentTest, WriteCommandsActWithoutAnswer) {
    make();
    EXPECT_FALSE(ask("01W071 1111"));
    EXPECT_TRUE(model.running());
    EXPECT_EQ(ask("02R071"), "0071 0000001");
    model.advance(125.0);
    EXPECT_EQ(ask("00R031"), "0031 0000002");
    const std::string charge = ask("13R060")->substr(5);
    EXPECT_NE(charge, "0000.00");

    EXPECT_FALSE(ask("00W071 0000"));
    EXPECT_FALSE(model.running());
    EXPECT_EQ(ask("02R071"), "0071 0000000");
    EXPECT_EQ(ask("13R060")->substr(5), charge);

    EXPECT_FALSE(ask("00W070 1111"));
    EXPECT_EQ(ask("00R031"), "0031 0000000");
    EXPECT_EQ(ask("13R060"), "0360 0000.00");
    EXPECT_EQ(ask("00R030"), "0030 0020.00");
}

TEST_F(InstrumentTest, ReportsTheEndOfTheDuration) {
    make();
    model.setDurationMinutes(3);
    ask("01W071 1111");
    model.advance(500.0);
    EXPECT_EQ(ask("02R071"), "0071 0000000");
    EXPECT_EQ(ask("00R031"), "0031 0000003");
}

TEST_F(InstrumentTest, SilentAddressesAreNeverAnswered) {
    AnswerFaults faults;
    faults.silentAddresses = {12};
    make(faults);
    EXPECT_FALSE(ask("12R010"));
    EXPECT_FALSE(ask("12R060"));
    EXPECT_TRUE(ask("11R010"));
    EXPECT_TRUE(ask("13R060"));
}

TEST_F(InstrumentTest, AnswersOnlyTheNthConsecutiveSend) {
    AnswerFaults faults;
    faults.answerOnRepeat = 3;
    make(faults);
    EXPECT_FALSE(ask("00R030"));
    EXPECT_FALSE(ask("00R030"));
    EXPECT_TRUE(ask("00R030"));
    // The count starts again after an answer ...
    EXPECT_FALSE(ask("00R030"));
    EXPECT_FALSE(ask("00R030"));
    // ... and when another request comes between.
    EXPECT_FALSE(ask("10R010"));
    EXPECT_FALSE(ask("00R030"));
    EXPECT_FALSE(ask("00R030"));
    EXPECT_TRUE(ask("00R030"));
}

TEST_F(InstrumentTest, SilenceIgnoresRequestsLikeAPulledCable) {
    make();
    instrument->toggleSilent();
    EXPECT_FALSE(ask("00R030"));
    EXPECT_FALSE(ask("01W071 1111"));
    EXPECT_FALSE(model.running());
    instrument->toggleSilent();
    EXPECT_TRUE(ask("00R030"));
    instrument->setSilent(true);
    instrument->resume();
    EXPECT_TRUE(ask("00R030"));
}

TEST_F(InstrumentTest, FallsSilentForAStretchOnceTheMinuteCountArrives) {
    AnswerFaults faults;
    faults.silenceAfterMinutes = 2;
    faults.silenceForMs = 1000.0;
    make(faults);
    EXPECT_TRUE(ask("00R030", 0.0));
    ask("01W071 1111", 0.0);
    model.advance(119.0);
    EXPECT_TRUE(ask("00R031", 100.0));
    model.advance(2.0);
    EXPECT_FALSE(ask("00R031", 200.0));  // the stretch runs from 200 to 1200 ms
    EXPECT_FALSE(ask("00R031", 1199.0));
    EXPECT_TRUE(ask("00R031", 1200.0));
    EXPECT_TRUE(ask("00R031", 5000.0));  // only once

    // A stretch can be cut short.
    SimModel other(1);
    Instrument early(other, faults);
    early.handle("01W071 1111", 0.0);
    other.advance(200.0);
    EXPECT_FALSE(early.handle("00R030", 10.0));
    early.resume();
    EXPECT_TRUE(early.handle("00R030", 20.0));
}

TEST_F(InstrumentTest, TemperatureReplyShowsTheHeatedSpecimens) {
    model.setHeating(SimModel::Heating{0.0, 2.0, 95.0});
    make();
    ask("00W070 1111");
    ask("01W071 1111");
    model.advance(35 * 60.0);  // 20 C + 70 K
    EXPECT_EQ(ask("00R030"), "0030 0090.00");
    model.advance(600.0);
    EXPECT_EQ(ask("00R030"), "0030 0095.00");
    EXPECT_EQ(ask("00R031"), "0031 0000045");
}

}  // namespace
