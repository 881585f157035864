#pragma once

#include <QString>

// The scale a laboratory grades a result by, chosen under 系统设置 → 结果评定 and kept in the lab
// settings beside the archive, so every copy of the program on that archive grades alike.
enum class GradingScheme {
    // Chloride-ion penetrability: 高 above 4000 C, 中 from 2000, 低 from 1000, 很低 from
    // 100, 可忽略 below (the program's classes from the start, and the spreadsheet template's).
    PenetrabilityClasses,
    // Durability grades of the electric flux: Q-I from 4000 C, Q-II from 2000, Q-III from
    // 1000, Q-IV from 500, Q-V below 500.
    DurabilityGrades,
};

// The scheme's name as every grade shown names it: "氯离子渗透性等级" / "电通量耐久性等级".
QString GradingSchemeName(GradingScheme scheme);

// The short name a column heading gives: "渗透性等级" / "耐久性等级".
QString GradingSchemeShortName(GradingScheme scheme);

// The grade of an adjusted charge Qs (whole coulombs) in `scheme`: "中", "Q-III".
QString GradeText(double adjustedCharge, GradingScheme scheme);

// The durability grade alone: "Q-I" … "Q-V".
QString DurabilityGradeText(double adjustedCharge);

// The lab's stored choice (key "results/grading"); the penetrability classes when nothing or
// something unknown is stored.
GradingScheme StoredGradingScheme();

// Stores the choice; false with the reason in `error` when the settings file cannot be written.
bool StoreGradingScheme(GradingScheme scheme, QString* error);
