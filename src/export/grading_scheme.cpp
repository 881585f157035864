#include "export/grading_scheme.h"

#include "archive/lab_settings.h"
#include "export/penetrability.h"

namespace {

const QString kKey = QStringLiteral("results/grading");
const QString kDurability = QStringLiteral("durability");
const QString kPenetrability = QStringLiteral("penetrability");

}  // namespace

QString GradingSchemeName(GradingScheme scheme) {
    return scheme == GradingScheme::DurabilityGrades ? QStringLiteral("电通量耐久性等级")
                                                     : QStringLiteral("氯离子渗透性等级");
}

QString GradingSchemeShortName(GradingScheme scheme) {
    return scheme == GradingScheme::DurabilityGrades ? QStringLiteral("耐久性等级")
                                                     : QStringLiteral("渗透性等级");
}

QString DurabilityGradeText(double adjustedCharge) {
    if (adjustedCharge >= 4000) return QStringLiteral("Q-I");
    if (adjustedCharge >= 2000) return QStringLiteral("Q-II");
    if (adjustedCharge >= 1000) return QStringLiteral("Q-III");
    if (adjustedCharge >= 500) return QStringLiteral("Q-IV");
    return QStringLiteral("Q-V");
}

QString GradeText(double adjustedCharge, GradingScheme scheme) {
    if (scheme == GradingScheme::DurabilityGrades) return DurabilityGradeText(adjustedCharge);
    return PenetrabilityText(PenetrabilityOf(adjustedCharge));
}

GradingScheme StoredGradingScheme() {
    return archive::ReadLabSetting(kKey).toString() == kDurability
               ? GradingScheme::DurabilityGrades
               : GradingScheme::PenetrabilityClasses;
}

bool StoreGradingScheme(GradingScheme scheme, QString* error) {
    return archive::WriteLabSetting(
        kKey, scheme == GradingScheme::DurabilityGrades ? kDurability : kPenetrability, error);
}
