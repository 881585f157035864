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

std::optional<GroupResult> GroupResultOf(const std::vector<int>& members,
                                         const std::vector<double>& adjusted) {
    if (members.empty() || members.size() != adjusted.size()) return std::nullopt;
    GroupResult group;
    group.members = members;
    if (adjusted.size() != size_t(kGroupSize)) {
        double sum = 0;
        for (double q : adjusted) sum += q;
        group.rule = GroupRule::Incomplete;
        group.value = RoundWhole(sum / static_cast<double>(adjusted.size()));
        return group;
    }
    std::array<double, kGroupSize> sorted{adjusted[0], adjusted[1], adjusted[2]};
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[1];
    // 100·|Qs − median| > 15·median: exact for whole coulombs, so 15 % itself agrees.
    std::vector<int> outside;
    for (int i = 0; i < kGroupSize; ++i)
        if (100.0 * std::fabs(adjusted[size_t(i)] - median) > 15.0 * median) outside.push_back(i);
    if (outside.empty()) {
        group.rule = GroupRule::Mean;
        group.value = RoundWhole((adjusted[0] + adjusted[1] + adjusted[2]) / 3.0);
    } else if (outside.size() == 1) {
        group.rule = GroupRule::MeanOfOther;
        group.leftOut = members[size_t(outside[0])];
        double sum = 0;
        for (int i = 0; i < kGroupSize; ++i)
            if (i != outside[0]) sum += adjusted[size_t(i)];
        group.value = RoundWhole(sum / 2.0);
    } else {
        group.rule = GroupRule::Median;
        group.value = median;
    }
    return group;
}

QString GroupRuleText(const GroupResult& group) {
    switch (group.rule) {
        case GroupRule::Mean:
            return QStringLiteral("三个试件的平均值");
        case GroupRule::MeanOfOther:
            return QStringLiteral("通道%1与中间值相差超过15%，取其余两个的平均值")
                .arg(group.leftOut + 1);
        case GroupRule::Median:
            return QStringLiteral("两个试件与中间值相差超过15%，取中间值");
        case GroupRule::Incomplete:
            break;
    }
    return QStringLiteral("仅%1个试件，取其平均值").arg(group.members.size());
}

QString GroupName(int group) {
    return QStringLiteral("第%1组（通道%2–%3）")
        .arg(group + 1)
        .arg(group * kGroupSize + 1)
        .arg(group * kGroupSize + kGroupSize);
}

bool DiameterIsPlausible(int diameterMm) {
    return diameterMm >= kLeastDiameterMm && diameterMm <= kGreatestDiameterMm;
}

QString DiameterProblem(int diameterMm) {
    if (DiameterIsPlausible(diameterMm)) return {};
    return QStringLiteral("试件直径 %1 mm 不在 %2–%3 mm 之间，不换算电通量Qs，不评定等级")
        .arg(diameterMm)
        .arg(kLeastDiameterMm)
        .arg(kGreatestDiameterMm);
}

TestResults ResultsOf(const std::array<QString, archive::kChannels>& charges,
                      const std::array<uint8_t, archive::kChannels>& channelOff, int diameterMm) {
    TestResults results;
    results.diameterProblem = DiameterProblem(diameterMm);
    for (int slot = 0; slot < archive::kChannels; ++slot) {
        if (channelOff[slot] != 0) continue;
        const std::optional<double> charge = ChargeNumber(charges[slot]);
        if (charge && *charge <= 0) {
            results.invalid[slot] = QStringLiteral("电通量不大于0，可能断路或接线反接");
            continue;
        }
        if (results.diameterProblem.isEmpty())
            results.channels[slot] = ChargeResultOf(charges[slot], diameterMm);
    }
    for (int g = 0; g < kGroups; ++g) {
        std::vector<int> members;
        std::vector<double> adjusted;
        for (int slot = g * kGroupSize; slot < (g + 1) * kGroupSize; ++slot) {
            if (!results.channels[slot]) continue;
            members.push_back(slot);
            adjusted.push_back(results.channels[slot]->adjusted);
        }
        results.groups[g] = GroupResultOf(members, adjusted);
    }
    return results;
}

QString AdjustedChargeText(double adjusted) { return QString::number(adjusted, 'f', 0); }
