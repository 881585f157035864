#include "report/reading_value.h"

#include <gtest/gtest.h>

#include "export/poll_csv.h"

// The report's quick reading of a number takes exactly the texts the CSV export takes, and
// gives the same number.
TEST(ReadingValue, AgreesWithTheCsvExportOnEveryKindOfText) {
    for (const char* text :
         {"12.50(mA)", "1234.5(C)", " 24.5 ", "0030",     "-3",    "+.5",     "5.",
          ".",         "",          "-",      "(C)",      "1.2.3", "12abc",   "1,5(C)",
          "12(mA)(C)", "12 (mA) ",  "1e3",    "通信故障", "60.0V", "12(m(A)", "12)"}) {
        const QString t = QString::fromUtf8(text);
        const QString number = ReadingNumber(t);
        const std::optional<double> value = ReadingValue(t);
        ASSERT_EQ(value.has_value(), !number.isEmpty()) << text;
        if (value) {
            EXPECT_EQ(*value, number.toDouble()) << text;
        }
    }
}
