#include "export/penetrability.h"

#include <gtest/gtest.h>

#include "export/report_plan.h"

namespace {

QString Grade(const QString& charge, int diameter) {
    const std::optional<ChargeResult> r = ChargeResultOf(charge, diameter);
    return r ? PenetrabilityText(r->grade) : QStringLiteral("none");
}

}  // namespace

TEST(Penetrability, ClassesFollowTheRoundedAdjustedChargeAtTheirBounds) {
    // At 95 mm Qs is Q rounded: the bounds of each class, on both sides.
    EXPECT_EQ(Grade("4000.4(C)", 95), "中");  // rounds to 4000, not above it
    EXPECT_EQ(Grade("4000.5(C)", 95), "高");
    EXPECT_EQ(Grade("1999.5(C)", 95), "中");  // rounds up to 2000
    EXPECT_EQ(Grade("1999.4(C)", 95), "低");
    EXPECT_EQ(Grade("1000", 95), "低");
    EXPECT_EQ(Grade("999.49(C)", 95), "很低");
    EXPECT_EQ(Grade("99.5(C)", 95), "很低");
    EXPECT_EQ(Grade("99.4(C)", 95), "可忽略");
    EXPECT_EQ(Grade("0.0(C)", 95), "可忽略");
}

TEST(Penetrability, AdjustsToA95MillimetreSpecimenAndRoundsHalvesAwayFromZero) {
    // 1000 × (95/100)² = 902.5: a half, rounded up.
    const std::optional<ChargeResult> r = ChargeResultOf("1000.0(C)", 100);
    ASSERT_TRUE(r);
    EXPECT_DOUBLE_EQ(r->charge, 1000.0);
    EXPECT_EQ(AdjustedChargeText(r->adjusted), "903");
    EXPECT_EQ(r->grade, Penetrability::VeryLow);
    EXPECT_EQ(AdjustedChargeText(ChargeResultOf(" 2345.6 (C)", 90)->adjusted), "2613");
    // 270.4 × (95/52)² is 902.5 in decimal but 902.4999999999999 in binary: the office's
    // ROUND gives 902 (tried with the office itself), and so does this.
    EXPECT_EQ(AdjustedChargeText(ChargeResultOf("270.4(C)", 52)->adjusted), "902");
    EXPECT_EQ(AdjustedChargeText(ChargeResultOf("940.8(C)", 56)->adjusted), "2707");
}

TEST(Penetrability, TextsThatAreNotNumbersAndAZeroDiameterGiveNoResult) {
    for (const char* text : {"", "-", "(C)", "12abc(C)", "1,5(C)", "通信故障", "1.2.3"})
        EXPECT_FALSE(ChargeResultOf(QString::fromUtf8(text), 100)) << text;
    EXPECT_FALSE(ChargeResultOf("1234.5(C)", 0));
    EXPECT_FALSE(MeanResultOf({"-", ""}, 100));
    EXPECT_FALSE(MeanResultOf({}, 100));
}

TEST(Penetrability, TheMeanOfThreeIsTheReportsMeanAndAnyOtherCountAPlainAverage) {
    const QStringList three = {"1234.5(C)", "1300.25(C)", "999.9(C)"};
    EXPECT_EQ(MeanChargeText(three), ChargeMean(three[0], three[1], three[2]));
    EXPECT_EQ(MeanChargeText({"100.0(C)", "201.0(C)"}), "150.50");
    EXPECT_EQ(MeanChargeText({"3000(C)"}), "3000.00");
    // A channel whose text is not a number counts as 0, as on the report.
    EXPECT_EQ(MeanChargeText({"300(C)", "-"}), "150.00");
    const std::optional<ChargeResult> mean = MeanResultOf(three, 100);
    ASSERT_TRUE(mean);
    EXPECT_DOUBLE_EQ(mean->charge, ChargeValue(ChargeMean(three[0], three[1], three[2])));
    EXPECT_EQ(mean->adjusted, ChargeResultOf(MeanChargeText(three), 100)->adjusted);
}
