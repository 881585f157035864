#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "archive/archive_rows.h"
#include "export/grading_scheme.h"
#include "report/current_series.h"
#include "report/test_events.h"
#include "server/test_account.h"

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
    // The report's check, on every page: a code from the report number and the test's content
    // ("4821-0937-5512"), and the address of the lab's verify page asked about this report,
    // which the QR code holds; no address (and no QR code) when the lab has set none.
    QString verifyCode;
    QString verifyUrl;
    QString verifyPage;  // the verify page itself, "https://lab.example/kivo/verify"
    // For a test that did not end normally, on every page: "未完成试验：暂停后关闭试验窗口，
    // 止于第 95 min（设定 360 min）…"; empty for a test that ended. Such a test has no grades.
    QString unfinished;
    QString method;        // the test method the report follows
    QString gradingTable;  // the scheme's classes with their bounds
    // What a reader must know about the figures: an implausible diameter, an invalid
    // specimen, a test shorter than the standard six hours.
    QStringList notes;
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

// The report number: "DTL-" the test date (yyyyMMdd) "-" the first eight digits of the test's
// uid, which the program makes at random for each test, so that no two benches of a lab
// issue the same number (the archive id, for a test without a uid).
QString ReportNumber(const archive::ArchivedTest& test);

// The standard method runs six hours.
constexpr int kStandardMinutes = 360;

// `audit` is the audit trail's events about the test (ArchiveReader::auditEvents). `account`
// is the account of the test's content that the code is made from: the archive's
// (server::LocalAccount) on the bench, the server's (server::ServerAccounts) for the server's
// copy; the two are equal once the server holds the whole test. `verifyBase` is the lab's
// address of its web service ("https://lab.example/kivo"), empty when it has none.
ReportContent MakeReportContent(const archive::ArchivedTest& test,
                                const std::vector<archive::PollRow>& polls,
                                const std::vector<archive::AuditRow>& audit, GradingScheme scheme,
                                const server::TestAccount& account, const QString& verifyBase);
