#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <vector>

// The content of the Excel test report as a list of sheet operations, built from a
// snapshot of the test state. Nothing here touches a spreadsheet program.

inline constexpr int kReportChannels = 6;       // channels with a sheet of their own
inline constexpr int kReportSpecimenSlots = 9;  // specimen slots on the report sheets
inline constexpr int kReportColumnWidth = 15;   // width of every column of the report sheet

inline const QString kReportSheetName = QStringLiteral("混凝土氯离子电通量试验报告");
inline const QString kInfoSheetName = QStringLiteral("试验信息");
QString ChannelSheetName(int channel);  // "通道1" … "通道6"

// The test state the report is made from, taken at the moment of the export.
struct ReportSnapshot {
    struct Record {
        QString number;   // history column 1
        QString current;  // history column 2
        QString charge;   // history column 3
    };

    int32_t testMinutes = 0;
    QString recordIntervalText;  // the test window's field 1058
    QString diameterText;        // the test window's field 1059
    int32_t diameter = 0;
    QString organisation;
    QString tester;
    QString voltage;
    std::array<QString, kReportSpecimenSlots> specimenNo;
    std::array<QString, kReportSpecimenSlots> lastCharge;
    std::array<bool, kReportChannels> channelOff{};
    uint32_t lastRecord = 0;
    // Rows 0 … lastRecord of each channel in use; empty for a channel that is off.
    std::array<std::vector<Record>, kReportChannels> history;
};

struct ReportStep {
    enum class Kind { SelectSheet, SetCell, ColumnWidth };
    Kind kind = Kind::SetCell;
    QString sheet;  // SelectSheet: the sheet's name
    int row = 0;    // SetCell: 1-based
    int column = 0;
    QString text;
    int width = 0;  // ColumnWidth

    bool operator==(const ReportStep&) const = default;
};

// The operations that fill the report for `snapshot`, in the order they are made.
std::vector<ReportStep> BuildReportPlan(const ReportSnapshot& snapshot);

// A charge text as a number, read the way the C library's atof reads it (in the "C"
// locale): leading blanks skipped, the longest numeric prefix used, 0 when there is none.
double ChargeValue(const QString& text);

// The mean of three charge texts as the report shows it: the values added in order, times
// 0.3333333333333333, as "%.2f".
QString ChargeMean(const QString& first, const QString& second, const QString& third);

// "B12" for row 12, column 2.
QString CellName(int row, int column);
