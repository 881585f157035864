#include "server/audit_account.h"

#include "server/test_account.h"

namespace server {
namespace {

// Uids asked about in one statement.
constexpr int kUidsPerQuery = 5000;

// A text[] parameter: {"a","b"} with quotes and backslashes escaped.
QString TextArray(const QStringList& texts) {
    QString array = QStringLiteral("{");
    for (qsizetype i = 0; i < texts.size(); ++i) {
        QString t = texts[i];
        t.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        t.replace(QLatin1Char('"'), QLatin1String("\\\""));
        if (i > 0) array += QLatin1Char(',');
        array += QLatin1Char('"') + t + QLatin1Char('"');
    }
    return array + QLatin1Char('}');
}

}  // namespace

AuditAccount LocalAuditAccount(archive::Connection& db) {
    archive::Statement s(db, "SELECT uid, at_ms FROM audit_event WHERE sent <> 0");
    RowSum rows;
    while (s.step()) rows.add({s.text(0), QString::number(s.integer(1))});
    return {rows.count, rows.sumText()};
}

AuditAccount ServerAuditAccount(PgConnection& db, const QString& benchUid) {
    const PgResult r = db.exec(
        "SELECT count(*), coalesce(sum(kivo_row_hash(e.uid || chr(31) || e.at_ms::text)), 0)"
        "::text FROM audit_events e WHERE e.bench_id IN "
        "(SELECT b.id FROM benches b WHERE b.bench_uid = $1)",
        PgParams().add(benchUid));
    return {r.integer(0, 0), r.text(0, 1)};
}

int ReopenMissingAudit(archive::Connection& local, PgConnection& db) {
    QStringList sent;
    {
        archive::Statement s(local, "SELECT uid FROM audit_event WHERE sent <> 0 ORDER BY id");
        while (s.step()) sent << s.text(0);
    }
    QStringList missing;
    for (qsizetype first = 0; first < sent.size(); first += kUidsPerQuery) {
        const PgResult r = db.exec(
            "SELECT u FROM unnest($1::text[]) AS u WHERE NOT EXISTS "
            "(SELECT 1 FROM audit_events e WHERE e.uid = u)",
            PgParams().add(TextArray(sent.mid(first, kUidsPerQuery))));
        for (int row = 0; row < r.rows(); ++row) missing << r.text(row, 0);
    }
    if (missing.isEmpty()) return 0;
    archive::WriteTransaction transaction(local);
    archive::Statement s(local, "UPDATE audit_event SET sent = 0 WHERE uid = ?1");
    for (const QString& uid : missing) s.bind(1, uid).run();
    transaction.commit();
    return int(missing.size());
}

}  // namespace server
