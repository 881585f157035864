#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "archive/archive_rows.h"

// The result of a test as the report sheet computes it: the charge passed Q, adjusted to a
// 95 mm specimen, Qs = ROUND(Q × (95 / d)², 0) with d the specimen diameter in mm, and the
// chloride-ion penetrability class of Qs; then the value of each group of three specimens.
// The list of tests, the view window and the test report show these figures; they agree with
// the report template's formulas for the same texts.

enum class Penetrability { High, Moderate, Low, VeryLow, Negligible };

// 高 中 低 很低 可忽略.
QString PenetrabilityText(Penetrability grade);

// 高 above 4000 C, 中 from 2000, 低 from 1000, 很低 from 100, 可忽略 below.
Penetrability PenetrabilityOf(double adjustedCharge);

struct ChargeResult {
    double charge = 0;    // Q in coulombs
    double adjusted = 0;  // Qs, whole coulombs
    Penetrability grade = Penetrability::Negligible;
};

// The charge a text holds as the template reads it: every "(C)" removed, then the whole rest
// a number (blanks around it allowed); nothing for any other text.
std::optional<double> ChargeNumber(const QString& text);

// A charge text as the result shows Q: without its unit ("1234.5(C)" → "1234.5").
QString ChargeWithoutUnit(const QString& text);

// Q, Qs and the class of one charge text ("1234.5(C)"); nothing when the text is not a
// number or the diameter is zero.
std::optional<ChargeResult> ChargeResultOf(const QString& chargeText, int diameterMm);

// The mean charge of a set of channels as the spreadsheet template computes it, as a text with two
// decimals: for three channels the report's own mean (ChargeMean), for any other count their values
// added in order and divided by the count. Texts that are not numbers count as 0, as on the report.
// Empty for no channel.
QString MeanChargeText(const QStringList& chargeTexts);

// The mean's Q, Qs and class: MeanChargeText adjusted and classed as a single charge;
// nothing when none of the texts is a number (a test without records).
std::optional<ChargeResult> MeanResultOf(const QStringList& chargeTexts, int diameterMm);

// How a group's value was taken from its specimens.
enum class GroupRule {
    Mean,         // the three agree: their mean
    MeanOfOther,  // one differs from the median by more than 15 % of it: the other two's mean
    Median,       // two differ by more than 15 %: the median
    Incomplete,   // fewer than three specimens with a charge: the mean of those there are
};

// Specimens are tested in groups of three, channels 1–3 and 4–6. A group's value is worked
// out from its specimens' adjusted charges Qs, the figure the result is judged by, so that
// specimens of different diameters compare alike.
constexpr int kGroupSize = 3;
constexpr int kGroups = archive::kChannels / kGroupSize;

struct GroupResult {
    std::vector<int> members;  // the channels (0-based) that gave a charge, in order
    GroupRule rule = GroupRule::Mean;
    int leftOut = -1;  // the channel left out under MeanOfOther
    double value = 0;  // Qs of the group, whole coulombs (halves away from zero)
};

// The group value of the adjusted charges `adjusted` of channels `members` (same order); nothing
// for no channel. Deviations are compared strictly: 15 % exactly still counts as agreeing.
std::optional<GroupResult> GroupResultOf(const std::vector<int>& members,
                                         const std::vector<double>& adjusted);

// The rule as the result shows it: "三个试件的平均值", "通道2偏差超过15%，取其余两个的平均值",
// "两个试件偏差超过15%，取中间值", "仅2个试件，取其平均值".
QString GroupRuleText(const GroupResult& group);

// "第1组（通道1–3）".
QString GroupName(int group);

// The specimen diameters a charge is adjusted from; any other (0, a typo of 10 for 100) gives
// no Qs.
constexpr int kLeastDiameterMm = 50, kGreatestDiameterMm = 150;
bool DiameterIsPlausible(int diameterMm);

// Why no Qs is worked out for a diameter outside them: "试件直径 10 mm 不在 50–150 mm 之间，
// 不换算电通量"; empty for a plausible one.
QString DiameterProblem(int diameterMm);

// A test's result figures: each channel in use, and the value of each group of three.
struct TestResults {
    std::array<std::optional<ChargeResult>, archive::kChannels> channels;
    std::array<std::optional<GroupResult>, kGroups> groups;
    // A channel whose charge cannot be a specimen's (0 C or less: an open circuit, a reversed
    // lead): why it is 无效. It has no result and is left out of its group.
    std::array<QString, archive::kChannels> invalid;
    QString diameterProblem;  // see DiameterProblem; then no channel has a result
};

// The figures of a test from the charge texts of its last record (empty texts for a test
// without records), the channels that are off left out, as are channels whose text is not a
// number, whose charge is not above 0, and every channel when the diameter is implausible.
TestResults ResultsOf(const std::array<QString, archive::kChannels>& charges,
                      const std::array<uint8_t, archive::kChannels>& channelOff, int diameterMm);

// Qs as the report shows it: whole coulombs without decimals ("3456").
QString AdjustedChargeText(double adjusted);
