#include "export/report_plan.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <clocale>

namespace {

QStringList Ops(const std::vector<ReportStep>& plan) {
    QStringList ops;
    for (const ReportStep& s : plan) {
        switch (s.kind) {
            case ReportStep::Kind::SelectSheet:
                ops << "select " + s.sheet;
                break;
            case ReportStep::Kind::SetCell:
                ops << "cell " + CellName(s.row, s.column) + " " + s.text;
                break;
            case ReportStep::Kind::ColumnWidth:
                ops << QStringLiteral("width %1").arg(s.width);
                break;
        }
    }
    return ops;
}

// Three records on every channel; charges chosen so that each group's mean is known.
ReportSnapshot KnownTest() {
    ReportSnapshot s;
    s.testMinutes = 360;
    s.recordIntervalText = "5";
    s.diameterText = "100";
    s.diameter = 100;
    s.organisation = QStringLiteral("某检测中心");
    s.tester = QStringLiteral("张三");
    s.voltage = "60.0";
    const char* charges[] = {"10.5(C)", "11(C)", "12(C)", "1000(C)", "2000(C)", "3001(C)"};
    for (int slot = 0; slot < 6; ++slot) {
        s.specimenNo[slot] = QStringLiteral("S%1").arg(slot + 1);
        s.lastCharge[slot] = charges[slot];
    }
    s.specimenNo[6] = "S7";  // slots 6-8 are never filled by the parameter dialog
    s.lastRecord = 2;
    for (int slot = 0; slot < 6; ++slot) {
        for (int j = 0; j < 3; ++j) {
            s.history[slot].push_back({QString::number(j + 1),
                                       QStringLiteral("%1.%2(mA)").arg(slot + 1).arg(j),
                                       QStringLiteral("%1(C)").arg(10 * (slot + 1) + j)});
        }
    }
    return s;
}

const QStringList kInfoAndReportSheets = {
    "select 试验信息",
    "cell B2 360",
    "cell B3 5",
    "cell B4 100",
    "cell B5 某检测中心",
    "cell B6 张三",
    "cell B7 60.0",
    "cell B8 S1",
    "cell B9 S2",
    "cell B10 S3",
    "cell B11 S4",
    "cell B12 S5",
    "cell B13 S6",
    "cell B14 S7",
    "cell B15 ",
    "cell B16 ",
    "select 混凝土氯离子电通量试验报告",
    "cell B2 某检测中心",
    "cell B4 60.0",
    "cell D4 100",
    "cell B5 360",
    "cell D5 张三",
    "cell B7 S1",
    "cell D7 10.5(C)",
    "cell B8 S2",
    "cell D8 11(C)",
    "cell B9 S3",
    "cell D9 12(C)",
    "cell D10 11.17",
    "cell B12 S4",
    "cell D12 1000(C)",
    "cell B13 S5",
    "cell D13 2000(C)",
    "cell B14 S6",
    "cell D14 3001(C)",
    "cell D15 2000.33",
    "cell B17 S7",
    "cell D17 ",
    "cell B18 ",
    "cell D18 ",
    "cell B19 ",
    "cell D19 ",
    "cell D20 0.00",
    "width 15",
};

TEST(ReportPlan, KnownTestGivesTheExactSequenceOfWrites) {
    QStringList expected;
    for (int k = 1; k <= 6; ++k) {
        expected << QStringLiteral("select 通道%1").arg(k);
        for (int j = 0; j < 3; ++j) {
            const int row = j + 2;
            expected << QStringLiteral("cell A%1 %2").arg(row).arg(j + 1)
                     << QStringLiteral("cell B%1 %2.%3(mA)").arg(row).arg(k).arg(j)
                     << QStringLiteral("cell C%1 %2(C)").arg(row).arg(10 * k + j);
        }
    }
    expected << kInfoAndReportSheets;
    EXPECT_EQ(Ops(BuildReportPlan(KnownTest())), expected);
}

TEST(ReportPlan, SingleRecordSelectsChannelSheetsButWritesNoRows) {
    ReportSnapshot s = KnownTest();
    s.lastRecord = 0;
    QStringList expected;
    for (int k = 1; k <= 6; ++k) expected << QStringLiteral("select 通道%1").arg(k);
    expected << kInfoAndReportSheets;
    EXPECT_EQ(Ops(BuildReportPlan(s)), expected);
}

TEST(ReportPlan, ChannelOffLeavesItsSheetButKeepsItsSpecimenOnTheReport) {
    ReportSnapshot s = KnownTest();
    s.channelOff[1] = true;
    s.history[1].clear();
    const QStringList ops = Ops(BuildReportPlan(s));
    EXPECT_FALSE(ops.contains("select 通道2"));
    EXPECT_EQ(ops.indexOf("select 通道3"), ops.indexOf("cell C4 12(C)") + 1);
    EXPECT_TRUE(ops.contains("cell B8 S2"));     // 试验信息
    EXPECT_TRUE(ops.contains("cell D8 11(C)"));  // report sheet
    EXPECT_TRUE(ops.contains("cell D10 11.17"));
    EXPECT_EQ(ops.size(), 5 * 10 + kInfoAndReportSheets.size());
}

TEST(ReportPlan, RecordsMissingFromAListAreWrittenEmpty) {
    ReportSnapshot s = KnownTest();
    s.history[0].resize(2);
    const QStringList ops = Ops(BuildReportPlan(s));
    const int at = ops.indexOf("cell A4 ");
    ASSERT_GE(at, 0);
    EXPECT_EQ(ops[at + 1], "cell B4 ");
    EXPECT_EQ(ops[at + 2], "cell C4 ");
    EXPECT_EQ(ops[at + 3], "select 通道2");
}

TEST(ChargeMean, ReadsTextsLikeAtofAndFormatsTwoDecimals) {
    EXPECT_EQ(ChargeMean("10.5", "11", "12"), "11.17");
    EXPECT_EQ(ChargeMean("10.5(C)", "11(C)", "12(C)"), "11.17");
    EXPECT_EQ(ChargeMean("", "", ""), "0.00");
    EXPECT_EQ(ChargeMean("-", "(C)", QStringLiteral("停用")), "0.00");
    EXPECT_EQ(ChargeMean("  \t7", "1e3(C)", ".5x"), "335.83");
    // Added in slot order: 1e16 + 1 is 1e16 in a double, so the 1 is lost.
    EXPECT_EQ(ChargeMean("1e16", "1", "-1e16"), "0.00");
    // Times the double nearest a third, not divided by three (which would give "0.01").
    EXPECT_EQ(ChargeMean("0.015", "0", "0"), "0.00");
    EXPECT_EQ(ChargeMean("3000", "3000", "3000"), "3000.00");
}

TEST(ChargeMean, IgnoresTheOperatorsDecimalComma) {
    const char* locales[] = {"de_DE.UTF-8", "fr_FR.UTF-8", "ru_RU.UTF-8"};
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    bool switched = false;
    for (const char* name : locales) {
        if (std::setlocale(LC_NUMERIC, name)) {
            switched = true;
            break;
        }
    }
    EXPECT_DOUBLE_EQ(ChargeValue("10.5(C)"), 10.5);
    EXPECT_EQ(ChargeMean("10.5", "11", "12"), "11.17");
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (!switched) GTEST_SKIP() << "no decimal-comma locale installed";
}

TEST(CellName, CountsColumnsFromA) {
    EXPECT_EQ(CellName(1, 1), "A1");
    EXPECT_EQ(CellName(20, 4), "D20");
    EXPECT_EQ(CellName(3, 26), "Z3");
    EXPECT_EQ(CellName(3, 27), "AA3");
}

}  // namespace
