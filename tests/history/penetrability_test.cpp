#include "export/penetrability.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "export/grading_scheme.h"
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

TEST(GroupValue, TheRuleFollowsHowManySpecimensLieMoreThan15PercentFromTheMedian) {
    // Qs of three specimens; 15 % of the median exactly still agrees.
    struct Case {
        std::vector<double> qs;
        GroupRule rule;
        double value;
        int leftOut;  // channel (0-based), -1 for none
    };
    const Case cases[] = {
        {{1000, 1100, 1200}, GroupRule::Mean, 1100, -1},
        {{850, 1000, 1150}, GroupRule::Mean, 1000, -1},        // both exactly 15 %
        {{849, 1000, 1150}, GroupRule::MeanOfOther, 1075, 0},  // (1000 + 1150) / 2
        {{1000, 1151, 950}, GroupRule::MeanOfOther, 975, 1},   // one above
        {{1000, 1001, 1000}, GroupRule::Mean, 1000, -1},       // 1000.33 rounds down
        {{1000, 1001, 1002}, GroupRule::Mean, 1001, -1},
        {{849, 1000, 1151}, GroupRule::Median, 1000, -1},
        {{3000, 500, 1000}, GroupRule::Median, 1000, -1},  // in any order
        {{0, 0, 0}, GroupRule::Mean, 0, -1},
        {{0, 0, 7}, GroupRule::MeanOfOther, 0, 2},        // a median of 0: any other differs
        {{1001, 1002}, GroupRule::Incomplete, 1002, -1},  // 1001.5 rounds up
        {{2345}, GroupRule::Incomplete, 2345, -1},
    };
    for (const Case& c : cases) {
        std::vector<int> members;
        for (size_t i = 0; i < c.qs.size(); ++i) members.push_back(int(i));
        const std::optional<GroupResult> g = GroupResultOf(members, c.qs);
        ASSERT_TRUE(g);
        EXPECT_EQ(g->rule, c.rule) << c.qs[0];
        EXPECT_EQ(g->value, c.value) << c.qs[0];
        EXPECT_EQ(g->leftOut, c.leftOut) << c.qs[0];
    }
    EXPECT_FALSE(GroupResultOf({}, {}));
}

TEST(GroupValue, ChannelsOffOrWithoutANumberLeaveTheirGroupShort) {
    // Channels 1–3 at 95 mm with one outlier; channel 5 off and channel 6 without a charge.
    const std::array<QString, 6> charges = {"1000.0(C)", "1400.0(C)", "1050.0(C)",
                                            "600.0(C)",  "9999(C)",   "-"};
    const TestResults r = ResultsOf(charges, {0, 0, 0, 0, 1, 0}, 95);
    ASSERT_TRUE(r.groups[0] && r.groups[1]);
    EXPECT_EQ(r.groups[0]->rule, GroupRule::MeanOfOther);
    EXPECT_EQ(r.groups[0]->leftOut, 1);
    EXPECT_EQ(r.groups[0]->value, 1025);
    EXPECT_EQ(GroupRuleText(*r.groups[0]), "通道2与中间值相差超过15%，取其余两个的平均值");
    EXPECT_EQ(r.groups[1]->rule, GroupRule::Incomplete);
    EXPECT_EQ(r.groups[1]->members, std::vector<int>{3});
    EXPECT_EQ(r.groups[1]->value, 600);
    EXPECT_EQ(GroupRuleText(*r.groups[1]), "仅1个试件，取其平均值");
    // No channel in use, or a test without records: no group value.
    const TestResults none = ResultsOf({}, {1, 1, 1, 1, 1, 1}, 95);
    EXPECT_FALSE(none.groups[0] || none.groups[1]);
    const TestResults noRecords = ResultsOf({}, {}, 95);
    EXPECT_FALSE(noRecords.groups[0] || noRecords.groups[1]);
    EXPECT_FALSE(noRecords.channels[0]);
}

TEST(Grading, EachSchemeAtItsBounds) {
    struct Case {
        double qs;
        const char* classes;
        const char* durability;
    };
    const Case cases[] = {
        {4001, "高", "Q-I"},   {4000, "中", "Q-I"},   {3999, "中", "Q-II"},  {2000, "中", "Q-II"},
        {1999, "低", "Q-III"}, {1000, "低", "Q-III"}, {999, "很低", "Q-IV"}, {500, "很低", "Q-IV"},
        {499, "很低", "Q-V"},  {100, "很低", "Q-V"},  {99, "可忽略", "Q-V"}, {0, "可忽略", "Q-V"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GradeText(c.qs, GradingScheme::PenetrabilityClasses),
                  QString::fromUtf8(c.classes))
            << c.qs;
        EXPECT_EQ(GradeText(c.qs, GradingScheme::DurabilityGrades), QString::fromUtf8(c.durability))
            << c.qs;
    }
}

// Charges no specimen can pass and diameters no specimen has are flagged, never graded: the
// group works on the valid specimens as a short group, and an implausible diameter gives no Qs.
TEST(GroupValue, ImpossibleChargesAndDiametersAreFlaggedNotGraded) {
    struct Case {
        const char* name;
        std::array<QString, 6> charges;
        int diameter;
        std::vector<int> invalid;  // channels (0-based) shown as 无效
        std::optional<GroupRule> rule;
        double value;
        std::vector<int> members;
    };
    const Case cases[] = {
        {"an outlier at 100 mm",
         {"1000.0(C)", "1400.0(C)", "1050.0(C)"},
         100,
         {},
         GroupRule::MeanOfOther,
         926,
         {0, 1, 2}},
        {"a 0 C specimen",
         {"0.0(C)", "1400.0(C)", "1050.0(C)"},
         95,
         {0},
         GroupRule::Incomplete,
         1225,
         {1, 2}},
        {"a negative median",
         {"-900(C)", "-1000(C)", "-1100(C)"},
         95,
         {0, 1, 2},
         std::nullopt,
         0,
         {}},
        {"one negative",
         {"1000(C)", "-1000(C)", "1100(C)"},
         95,
         {1},
         GroupRule::Incomplete,
         1050,
         {0, 2}},
    };
    for (const Case& c : cases) {
        const TestResults r = ResultsOf(c.charges, {0, 0, 0, 1, 1, 1}, c.diameter);
        EXPECT_TRUE(r.diameterProblem.isEmpty()) << c.name;
        for (int slot = 0; slot < 3; ++slot) {
            const bool invalid =
                std::find(c.invalid.begin(), c.invalid.end(), slot) != c.invalid.end();
            EXPECT_EQ(!r.invalid[slot].isEmpty(), invalid) << c.name << " " << slot;
            EXPECT_EQ(r.channels[slot].has_value(), !invalid) << c.name << " " << slot;
        }
        ASSERT_EQ(r.groups[0].has_value(), c.rule.has_value()) << c.name;
        if (!c.rule) continue;
        EXPECT_EQ(r.groups[0]->rule, *c.rule) << c.name;
        EXPECT_EQ(r.groups[0]->value, c.value) << c.name;
        EXPECT_EQ(r.groups[0]->members, c.members) << c.name;
    }
    // Qs {903, 1264, 948} at 100 mm; channel 2 is left out.
    const TestResults outlier = ResultsOf(cases[0].charges, {0, 0, 0, 1, 1, 1}, 100);
    EXPECT_EQ(outlier.channels[1]->adjusted, 1264);
    EXPECT_EQ(outlier.groups[0]->leftOut, 1);

    for (int diameter : {0, -100, 10, 49, 151}) {
        const TestResults r = ResultsOf(cases[0].charges, {0, 0, 0, 1, 1, 1}, diameter);
        EXPECT_FALSE(r.diameterProblem.isEmpty()) << diameter;
        EXPECT_TRUE(r.diameterProblem.contains(QString::number(diameter))) << diameter;
        EXPECT_FALSE(r.channels[0] || r.groups[0]) << diameter;
    }
    for (int diameter : {50, 95, 150})
        EXPECT_TRUE(ResultsOf(cases[0].charges, {}, diameter).diameterProblem.isEmpty());
}
