#pragma once

#include <QString>
#include <vector>

#include "archive/archive_rows.h"
#include "export/grading_scheme.h"
#include "report/current_series.h"
#include "report/test_events.h"

// Everything the test report (试验报告) shows, as the texts it shows them, worked out from a
// test of the archive and its polls. The figures come from the same computation as the
// history window's result panel (ResultsOf), so the report, the panel and the spreadsheet
// agree.
struct ReportContent {
    struct Field {
        QString label, value;
    };
    struct ChannelRow {
        QString channel, specimenNo, charge, adjusted, grade, finalCurrent;
    };
    struct GroupRow {
        QString name, value, grade, rule;
    };
    struct EventRow {
        QString time, elapsed, text;
    };

    QString title;
    QString reportNumber;
    std::vector<Field> fields;  // organisation, tester, date, … in the order shown
    QString schemeName;
    std::vector<ChannelRow> channels;  // the channels in use
    std::vector<GroupRow> groups;      // the groups with a value
    CurrentSeries chart;
    std::vector<EventRow> events;
    QString highestTemperature;  // "38.5 ℃（10:21:04）", "-" when nothing was read
};

// The columns the chart is thinned to: more than a printed chart can show.
constexpr int kReportChartColumns = 1200;

// The report number: "DTL-" the test date (yyyyMMdd) "-" the archive id with four digits.
QString ReportNumber(const archive::ArchivedTest& test);

ReportContent MakeReportContent(const archive::ArchivedTest& test,
                                const std::vector<archive::PollRow>& polls, GradingScheme scheme);
