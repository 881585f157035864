#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

#include "archive/archive_rows.h"

// The result of a test as the report sheet computes it: the charge passed Q, adjusted to a
// 95 mm specimen, Qs = ROUND(Q × (95 / d)², 0) with d the specimen diameter in mm, and the
// chloride-ion penetrability class of Qs. The list of tests and the view window show these
// figures; they agree with the report template's formulas for the same texts.

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

// The mean charge of a set of channels as a text with two decimals: for three channels the
// report's own mean (ChargeMean), for any other count their values added in order and
// divided by the count. Texts that are not numbers count as 0, as on the report. Empty for
// no channel.
QString MeanChargeText(const QStringList& chargeTexts);

// The mean's Q, Qs and class: MeanChargeText adjusted and classed as a single charge;
// nothing when none of the texts is a number (a test without records).
std::optional<ChargeResult> MeanResultOf(const QStringList& chargeTexts, int diameterMm);

// A test's result figures: each channel in use, and the mean of those channels.
struct TestResults {
    std::array<std::optional<ChargeResult>, archive::kChannels> channels;
    QString meanText;  // the mean charge when any channel's charge is a number, else empty
    std::optional<ChargeResult> mean;
};

// The figures of a test from the charge texts of its last record (empty texts for a test
// without records), the channels that are off left out.
TestResults ResultsOf(const std::array<QString, archive::kChannels>& charges,
                      const std::array<uint8_t, archive::kChannels>& channelOff, int diameterMm);

// Qs as the report shows it: whole coulombs without decimals ("3456").
QString AdjustedChargeText(double adjusted);
