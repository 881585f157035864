#pragma once

#include <QDate>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

#include "archive/archive_rows.h"
#include "export/grading_scheme.h"
#include "report/report_content.h"
#include "server/pg_connection.h"

// What the web pages read from the lab database, with the server layer's readers and the
// desktop's own computations (the report's content), so a page shows the desktop's figures.
// Every statement takes its values as parameters. Throws server::PgError.
namespace lab {

// A page of the test list: newest first, the filters applied by the server on its indices.
struct LabListQuery {
    QDate from, to;  // the start's date, both included; null: open
    QString bench;   // a bench as the list shows it (server::BenchText); empty: every bench
    QString tester, organisation;                     // a part of it
    QString specimen;                                 // one specimen number, exactly
    std::optional<std::pair<qint64, QString>> after;  // the last test of the page before
    int limit = 50;
};

struct LabListRow {
    QString uid, testDate, startTime, tester, organisation, bench, state;
    int testMinutes = 0, recordCount = 0;
    qint64 startedAtMs = 0;
};

struct LabTestList {
    std::vector<LabListRow> rows;
    bool more = false;
};

LabTestList ListLabTests(server::PgConnection& db, const LabListQuery& query);

// Every bench that sent a test, as the list shows it, in the order of their texts.
std::vector<QString> LabBenches(server::PgConnection& db);

// The audit trail's events about test `uid`, in the order they happened.
std::vector<archive::AuditRow> ServerAuditEvents(server::PgConnection& db, const QString& uid);

// A test as its page shows it: the test and its polls, the report's content worked out as the
// desktop does, and the report's check.
struct LabTest {
    archive::ArchivedTest test;
    std::vector<archive::PollRow> polls;
    std::vector<archive::AuditRow> audit;
    ReportContent content;
    QString bench;
    QString verifyCode, verifyUrl;
};
std::optional<LabTest> LoadLabTest(server::PgConnection& db, const QString& uid,
                                   GradingScheme scheme, const QString& verifyBase);

// The check of a report number and its verification code.
struct ReportCheck {
    enum class Verdict { Genuine, NotFound, CodeMismatch };
    Verdict verdict = Verdict::NotFound;
    QString number;         // as found on the server (normalised)
    ReportContent summary;  // for a genuine report: its fields and group values
};
ReportCheck CheckReport(server::PgConnection& db, const QString& number, const QString& code,
                        GradingScheme scheme);

}  // namespace lab
