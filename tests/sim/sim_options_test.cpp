#include "sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ParsedOptions Parse(std::vector<std::string> args) { return ParseSimOptions(args); }

TEST(SimOptionsTest, ReadsEveryOption) {
    const ParsedOptions p = Parse({"--link",
                                   "/tmp/x",
                                   "--seed=9",
                                   "--speed",
                                   "60",
                                   "--duration",
                                   "360",
                                   "--line-timing",
                                   "--log",
                                   "l.txt",
                                   "--silent",
                                   "--silent-address",
                                   "12",
                                   "--silent-address=02",
                                   "--answer-on-repeat",
                                   "3",
                                   "--late",
                                   "250",
                                   "--split",
                                   "--garbage",
                                   "--broken-frames",
                                   "--fault-rate",
                                   "0.25",
                                   "--silence-after-minutes",
                                   "5",
                                   "--silence-for-seconds",
                                   "1.5"});
    ASSERT_EQ(p.error, "");
    const SimOptions& o = p.options;
    EXPECT_EQ(o.linkPath, "/tmp/x");
    EXPECT_EQ(o.seed, 9u);
    EXPECT_EQ(o.speed, 60.0);
    EXPECT_EQ(o.durationMinutes, 360u);
    EXPECT_TRUE(o.reply.lineTiming);
    EXPECT_EQ(o.logPath, "l.txt");
    EXPECT_TRUE(o.silent);
    EXPECT_EQ(o.answer.silentAddresses, (std::set<int>{2, 12}));
    EXPECT_EQ(o.answer.answerOnRepeat, 3u);
    EXPECT_EQ(o.reply.lateMs, 250.0);
    EXPECT_TRUE(o.reply.split && o.reply.garbage && o.reply.brokenFrames);
    EXPECT_EQ(o.reply.faultRate, 0.25);
    EXPECT_EQ(o.answer.silenceAfterMinutes, 5u);
    EXPECT_EQ(o.answer.silenceForMs, 1500.0);

    const ParsedOptions plain = Parse({"--link", "p"});
    EXPECT_EQ(plain.error, "");
    EXPECT_FALSE(plain.options.reply.faultRate.has_value());
    EXPECT_EQ(plain.options.speed, 1.0);

    const ParsedOptions range = Parse({"--link", "p", "--late", "600:1300"});
    EXPECT_EQ(range.error, "");
    EXPECT_EQ(range.options.reply.lateMs, 600.0);
    EXPECT_EQ(range.options.reply.lateMaxMs, 1300.0);
    EXPECT_TRUE(Parse({"--help"}).options.help);
    EXPECT_FALSE(plain.options.heating.has_value());
}

TEST(SimOptionsTest, HeaterOptionsWithTheirDefaults) {
    const ParsedOptions defaults = Parse({"--link", "p", "--heat-after-minutes", "30"});
    ASSERT_EQ(defaults.error, "");
    ASSERT_TRUE(defaults.options.heating.has_value());
    EXPECT_EQ(defaults.options.heating->afterMinutes, 30.0);
    EXPECT_EQ(defaults.options.heating->celsiusPerMinute, 2.0);
    EXPECT_EQ(defaults.options.heating->ceilingCelsius, 95.0);

    const ParsedOptions all = Parse(
        {"--link", "p", "--heat-after-minutes=0.5", "--heat-rate", "4.5", "--heat-ceiling=91"});
    ASSERT_EQ(all.error, "");
    EXPECT_EQ(all.options.heating->afterMinutes, 0.5);
    EXPECT_EQ(all.options.heating->celsiusPerMinute, 4.5);
    EXPECT_EQ(all.options.heating->ceilingCelsius, 91.0);

    const std::vector<std::vector<std::string>> bad = {
        {"--link", "p", "--heat-rate", "3"},
        {"--link", "p", "--heat-ceiling", "90"},
        {"--link", "p", "--heat-after-minutes", "-1"},
        {"--link", "p", "--heat-after-minutes", "soon"},
        {"--link", "p", "--heat-after-minutes", "5", "--heat-rate", "0"},
        {"--link", "p", "--heat-after-minutes", "5", "--heat-ceiling", "20"},
        {"--link", "p", "--heat-after-minutes"},
    };
    for (const auto& args : bad) {
        std::string line;
        for (const auto& a : args) line += a + " ";
        EXPECT_NE(Parse(args).error, "") << line;
    }
}

TEST(SimOptionsTest, RefusesBadArguments) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--speed", "2"},
        {"--link"},
        {"--link", "p", "--speed", "0"},
        {"--link", "p", "--speed", "-1"},
        {"--link", "p", "--speed", "fast"},
        {"--link", "p", "--speed", "nan"},
        {"--link", "p", "--duration", "-5"},
        {"--link", "p", "--duration", "1.5"},
        {"--link", "p", "--seed", "99999999999"},
        {"--link", "p", "--silent-address", "7"},
        {"--link", "p", "--silent-address", "1a"},
        {"--link", "p", "--answer-on-repeat", "0"},
        {"--link", "p", "--late", "-1"},
        {"--link", "p", "--late", "900:800"},
        {"--link", "p", "--late", "100:"},
        {"--link", "p", "--fault-rate", "1.5"},
        {"--link", "p", "--silence-after-minutes", "3"},
        {"--link", "p", "--silence-for-seconds", "3"},
        {"--link", "p", "--split=yes"},
        {"--link", "p", "--colour"},
        {"--link", "p", "extra"},
    };
    for (const auto& args : bad) {
        std::string line;
        for (const auto& a : args) line += a + " ";
        EXPECT_NE(Parse(args).error, "") << line;
    }
    EXPECT_NE(Parse({"--link", "p", "--speed", "0"}).error.find("--speed"), std::string::npos);
}

}  // namespace
