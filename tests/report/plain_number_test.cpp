#include "export/office/plain_number.h"

#include <gtest/gtest.h>

namespace {

TEST(PlainNumberTest, OnlyPlainDecimalsAreNumbers) {
    const std::pair<const char*, double> numbers[] = {
        {"20", 20},           {"146.37", 146.37},
        {"0012", 12},         {"01", 1},
        {"-3", -3},           {"+2.50", 2.5},
        {"0.00", 0},          {"60.0", 60},
        {"4550.12", 4550.12}, {"123456789012", 123456789012.0},
    };
    for (const auto& [text, value] : numbers) {
        const auto n = PlainDecimalNumber(QString::fromUtf8(text));
        ASSERT_TRUE(n.has_value()) << text;
        EXPECT_DOUBLE_EQ(*n, value) << text;
    }
    // What the report writes beside its numbers, and what a looser reader would take.
    const char* texts[] = {"12.50(mA)", "4550(C)", "2026-12-8", "",     "-",   "+",     ".5",
                           "5.",        "1e5",     " 5",        "5 ",   "1,5", "1.2.3", "0x10",
                           "inf",       "nan",     "１２",      "=1+1", "--1", "12:30"};
    for (const char* text : texts)
        EXPECT_FALSE(PlainDecimalNumber(QString::fromUtf8(text)).has_value()) << text;
    // Too long for a number of the spreadsheet: kept as the text it is.
    EXPECT_FALSE(PlainDecimalNumber(QString(400, QLatin1Char('9'))).has_value());
}

}  // namespace
