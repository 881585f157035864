#include "lab/lab_reads.h"

#include <QDateTime>
#include <QRegularExpression>
#include <map>

#include "server/server_reader.h"
#include "server/server_rows.h"
#include "server/server_schema.h"
#include "server/test_account.h"
#include "server/verification_code.h"

namespace lab {
namespace {

qint64 StartOfDayMs(const QDate& date) { return QDateTime(date, QTime(0, 0)).toMSecsSinceEpoch(); }

// The benches by their texts, each with the ids the server keeps it under.
std::map<QString, std::vector<qint64>> BenchIds(server::PgConnection& db) {
    const server::PgResult b = db.exec(
        "SELECT id, host_name, port_name, port_device FROM benches b "
        "WHERE EXISTS (SELECT 1 FROM test_summaries s WHERE s.bench_id = b.id)");
    std::map<QString, std::vector<qint64>> byText;
    for (int row = 0; row < b.rows(); ++row)
        byText[server::BenchText(b.text(row, 1), b.text(row, 2), b.text(row, 3))].push_back(
            b.integer(row, 0));
    return byText;
}

// The report number's own part of a uid, as ReportNumber takes it and the index keeps it.
constexpr const char* kReportKeySql =
    "upper(left(regexp_replace(uid, '[^A-Za-z0-9]', '', 'g'), 8))";

}  // namespace

std::vector<QString> LabBenches(server::PgConnection& db) {
    std::vector<QString> texts;
    for (const auto& [text, ids] : BenchIds(db)) texts.push_back(text);
    return texts;
}

LabTestList ListLabTests(server::PgConnection& db, const LabListQuery& query) {
    // Each test under the labels it started with.
    QByteArray sql =
        "SELECT s.test_uid, s.test_date, s.start_time, s.tester, s.organisation, "
        "s.test_minutes, s.record_count, s.started_at_ms, s.state_names, " +
        server::TestBenchLabelsSql(server::ServerSchemaVersion(db), "s.test_uid") +
        " FROM test_summaries s JOIN benches b ON b.id = s.bench_id\n";
    server::PgParams params;
    QByteArrayList where;
    auto next = [&] { return "$" + QByteArray::number(params.size()); };
    if (query.after) {
        params.add(query.after->first).add(query.after->second);
        where << "(s.started_at_ms, s.test_uid) < ($1, $2)";
    }
    if (query.from.isValid()) {
        params.add(StartOfDayMs(query.from));
        where << "s.started_at_ms >= " + next();
    }
    if (query.to.isValid()) {
        params.add(StartOfDayMs(query.to.addDays(1)));
        where << "s.started_at_ms < " + next();
    }
    if (!query.bench.isEmpty()) {
        const auto benches = BenchIds(db);
        const auto found = benches.find(query.bench);
        if (found == benches.end()) return {};
        QStringList ids;
        for (const qint64 id : found->second) ids << QString::number(id);
        params.add(u'{' + ids.join(u',') + u'}');
        where << "s.bench_id = ANY (" + next() + "::bigint[])";
    }
    if (!query.tester.trimmed().isEmpty()) {
        params.add(server::ContainsPattern(query.tester.trimmed()));
        where << "s.tester ILIKE " + next();
    }
    if (!query.organisation.trimmed().isEmpty()) {
        params.add(server::ContainsPattern(query.organisation.trimmed()));
        where << "s.organisation ILIKE " + next();
    }
    if (!query.specimen.trimmed().isEmpty()) {
        params.add(query.specimen.trimmed());
        where << "s.test_uid IN (SELECT t.uid FROM tests t WHERE ARRAY[t.specimen_no_0, "
                 "t.specimen_no_1, t.specimen_no_2, t.specimen_no_3, t.specimen_no_4, "
                 "t.specimen_no_5, t.specimen_no_6, t.specimen_no_7, t.specimen_no_8] @> "
                 "ARRAY[" +
                     next() + "::text])";
    }
    if (!where.isEmpty()) sql += "WHERE " + where.join(" AND ") + '\n';
    params.add(qint64{query.limit} + 1);  // one more: whether more follow
    sql += "ORDER BY s.started_at_ms DESC, s.test_uid DESC LIMIT " + next();
    const server::PgResult r = db.exec(sql.constData(), params);
    LabTestList list;
    const int rows = std::min(r.rows(), query.limit);
    list.more = r.rows() > query.limit;
    std::vector<archive::StateChange> changes;
    for (int row = 0; row < rows; ++row) {
        LabListRow t;
        t.uid = r.text(row, 0);
        t.testDate = r.text(row, 1);
        t.startTime = r.text(row, 2);
        t.tester = r.text(row, 3);
        t.organisation = r.text(row, 4);
        t.testMinutes = int(r.integer(row, 5));
        t.recordCount = int(r.integer(row, 6));
        t.startedAtMs = r.integer(row, 7);
        changes.clear();
        for (const QString& name : r.text(row, 8).split(u' ', Qt::SkipEmptyParts))
            changes.push_back(
                {archive::StateFromName(name).value_or(archive::TestState::Interrupted), 0});
        archive::TestState state;
        bool closed = false;
        server::ApplyStates(changes, &state, &closed);
        t.state = archive::StateText(state);
        t.bench = server::BenchText(r.text(row, 9), r.text(row, 10), r.text(row, 11));
        list.rows.push_back(std::move(t));
    }
    return list;
}

std::vector<archive::AuditRow> ServerAuditEvents(server::PgConnection& db, const QString& uid) {
    server::PgParams key;
    key.add(uid);
    const server::PgResult r = db.exec(
        "SELECT at_ms, action, user_name, detail FROM audit_events WHERE test_uid = $1 "
        "ORDER BY at_ms, uid",
        key);
    std::vector<archive::AuditRow> rows;
    for (int row = 0; row < r.rows(); ++row)
        rows.push_back({r.integer(row, 0), r.text(row, 1), r.text(row, 2), r.text(row, 3)});
    return rows;
}

std::optional<LabTest> LoadLabTest(server::PgConnection& db, const QString& uid,
                                   GradingScheme scheme, const QString& verifyBase) {
    std::optional<server::ServerTest> loaded = server::LoadServerTest(db, uid);
    if (!loaded) return std::nullopt;
    LabTest t;
    t.test = std::move(loaded->test);
    t.polls = std::move(loaded->polls);
    t.audit = ServerAuditEvents(db, uid);
    server::PgParams key;
    key.add(uid);
    const server::PgResult b =
        db.exec(("SELECT " + server::TestBenchLabelsSql(server::ServerSchemaVersion(db), "t.uid") +
                 " FROM tests t JOIN benches b ON b.id = t.bench_id WHERE t.uid = $1")
                    .constData(),
                key);
    if (b.rows() > 0) t.bench = server::BenchText(b.text(0, 0), b.text(0, 1), b.text(0, 2));
    // The code is the server's own account of the test, as the verify page checks it.
    const std::map<QString, server::TestAccount> accounts = server::ServerAccounts(db, {uid});
    const auto account = accounts.find(uid);
    t.content = MakeReportContent(
        t.test, t.polls, t.audit, scheme,
        account != accounts.end() ? account->second : server::TestAccount{}, verifyBase);
    t.verifyCode = t.content.verifyCode;
    t.verifyUrl = t.content.verifyUrl;
    return t;
}

ReportCheck CheckReport(server::PgConnection& db, const QString& number, const QString& code,
                        GradingScheme scheme) {
    ReportCheck check;
    check.number = number.trimmed().toUpper();
    static const QRegularExpression form(QStringLiteral("^DTL-\\d{8}-([A-Z0-9]{1,8})$"));
    const QRegularExpressionMatch match = form.match(check.number);
    if (!match.hasMatch()) return check;

    server::PgTransaction transaction(db);
    // The code and the summary of one moment, though benches go on sending.
    db.execScript("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY");
    server::PgParams key;
    key.add(match.captured(1));
    const server::PgResult h = db.exec((QByteArray("SELECT ") + server::kTestColumns +
                                        " FROM tests WHERE " + kReportKeySql + " = $1")
                                           .constData(),
                                       key);
    // Two tests of one day may share a number (their uids' first eight characters): the
    // report is genuine when the code is that of either.
    const QString typed = server::NormalisedVerificationCode(code);
    std::vector<archive::TestHeader> candidates;
    QStringList uids;
    for (int row = 0; row < h.rows(); ++row) {
        archive::ArchivedTest t;
        t.header = server::HeaderAt(h, row);
        if (ReportNumber(t) != check.number) continue;
        candidates.push_back(t.header);
        uids << t.header.uid;
    }
    if (candidates.empty()) return check;
    check.verdict = ReportCheck::Verdict::CodeMismatch;
    if (typed.isEmpty()) return check;
    const std::map<QString, server::TestAccount> accounts = server::ServerAccounts(db, uids);
    archive::ArchivedTest test;
    server::TestAccount held;
    for (const archive::TestHeader& header : candidates) {
        const auto account = accounts.find(header.uid);
        if (account != accounts.end() &&
            typed == server::VerificationCode(check.number, account->second)) {
            test.header = header;
            held = account->second;
        }
    }
    if (test.header.uid.isEmpty()) return check;
    const QString uid = test.header.uid;
    // The summary needs the records, the state changes and the last reading; not every poll.
    server::PgParams byUid;
    byUid.add(uid);
    const server::PgResult records =
        db.exec((QByteArray("SELECT DISTINCT ON (number) ") + server::kRecordColumns +
                 " FROM records WHERE test_uid = $1 ORDER BY number, revision DESC")
                    .constData(),
                byUid);
    for (int row = 0; row < records.rows(); ++row)
        test.records.push_back(server::RecordAt(records, row));
    const server::PgResult states = db.exec(
        "SELECT state, at_ms FROM state_changes WHERE test_uid = $1 ORDER BY ordinal", byUid);
    for (int row = 0; row < states.rows(); ++row)
        test.states.push_back(
            {archive::StateFromName(states.text(row, 0)).value_or(archive::TestState::Interrupted),
             states.integer(row, 1)});
    server::ApplyStates(test.states, &test.state, &test.closed);
    const server::PgResult last = db.exec((QByteArray("SELECT ") + server::kPollColumns +
                                           " FROM polls WHERE test_uid = $1 "
                                           "ORDER BY seq DESC LIMIT 1")
                                              .constData(),
                                          byUid);
    std::vector<archive::PollRow> polls;
    if (last.rows() > 0) polls.push_back(server::PollAt(last, 0));
    transaction.commit();
    check.summary = MakeReportContent(test, polls, {}, scheme, held, {});
    check.verdict = ReportCheck::Verdict::Genuine;
    return check;
}

}  // namespace lab
