#include "export/penetrability.h"

#include <algorithm>
#include <cmath>

#include "export/report_plan.h"

QString PenetrabilityText(Penetrability grade) {
    switch (grade) {
        case Penetrability::High:
            return QStringLiteral("高");
        case Penetrability::Moderate:
            return QStringLiteral("中");
        case Penetrability::Low:
            return QStringLiteral("低");
        case Penetrability::VeryLow:
            return QStringLiteral("很低");
        case Penetrability::Negligible:
            break;
    }
    return QStringLiteral("可忽略");
}

Penetrability PenetrabilityOf(double adjustedCharge) {
    if (adjustedCharge > 4000) return Penetrability::High;
    if (adjustedCharge >= 2000) return Penetrability::Moderate;
    if (adjustedCharge >= 1000) return Penetrability::Low;
    if (adjustedCharge >= 100) return Penetrability::VeryLow;
    return Penetrability::Negligible;
}

std::optional<double> ChargeNumber(const QString& text) {
    QString rest = text;
    rest.remove(QStringLiteral("(C)"));
    rest = rest.trimmed();
    if (rest.isEmpty()) return std::nullopt;
    // Plain decimal notation only, as the instrument's texts are; the C locale's point.
    for (QChar c : rest) {
        if (!(c.isDigit() && c.unicode() < 128) && c != u'.' && c != u'-' && c != u'+' &&
            c != u'e' && c != u'E')
            return std::nullopt;
    }
    bool ok = false;
    const double value = rest.toDouble(&ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

QString ChargeWithoutUnit(const QString& text) {
    QString rest = text;
    return rest.remove(QStringLiteral("(C)")).trimmed();
}

namespace {

// The template's ROUND(x; 0): to the nearest whole number, halves away from zero, of the
// product as computed in binary. The office does not first cut it to 15 digits: 270.4 ×
// (95/52)², 902.5 in decimal and 902.4999999999999 in binary, is 902 there too.
double RoundWhole(double value) { return std::round(value); }

std::optional<ChargeResult> ResultOfValue(double charge, int diameterMm) {
    if (diameterMm == 0) return std::nullopt;
    const double ratio = 95.0 / static_cast<double>(diameterMm);
    ChargeResult r;
    r.charge = charge;
    r.adjusted = RoundWhole(charge * (ratio * ratio));
    r.grade = PenetrabilityOf(r.adjusted);
    return r;
}

}  // namespace

std::optional<ChargeResult> ChargeResultOf(const QString& chargeText, int diameterMm) {
    const std::optional<double> charge = ChargeNumber(chargeText);
    if (!charge) return std::nullopt;
    return ResultOfValue(*charge, diameterMm);
}

QString MeanChargeText(const QStringList& chargeTexts) {
    if (chargeTexts.isEmpty()) return {};
    if (chargeTexts.size() == 3) return ChargeMean(chargeTexts[0], chargeTexts[1], chargeTexts[2]);
    double sum = 0;
    for (const QString& text : chargeTexts) sum += ChargeValue(text);
    return QString::asprintf("%.2f", sum / static_cast<double>(chargeTexts.size()));
}

std::optional<ChargeResult> MeanResultOf(const QStringList& chargeTexts, int diameterMm) {
    if (std::none_of(chargeTexts.begin(), chargeTexts.end(),
                     [](const QString& text) { return ChargeNumber(text).has_value(); }))
        return std::nullopt;
    return ChargeResultOf(MeanChargeText(chargeTexts), diameterMm);
}

TestResults ResultsOf(const std::array<QString, archive::kChannels>& charges,
                      const std::array<uint8_t, archive::kChannels>& channelOff, int diameterMm) {
    TestResults results;
    QStringList inUse;
    for (int slot = 0; slot < archive::kChannels; ++slot) {
        if (channelOff[slot] != 0) continue;
        inUse << charges[slot];
        results.channels[slot] = ChargeResultOf(charges[slot], diameterMm);
    }
    results.mean = MeanResultOf(inUse, diameterMm);
    if (std::any_of(inUse.begin(), inUse.end(),
                    [](const QString& t) { return ChargeNumber(t).has_value(); }))
        results.meanText = MeanChargeText(inUse);
    return results;
}

QString AdjustedChargeText(double adjusted) { return QString::number(adjusted, 'f', 0); }
