#include "server/server_reconcile.h"

#include "archive/sqlite_handle.h"

namespace server {
namespace {

// Tests asked about in one statement.
constexpr int kTestsPerQuery = 1000;

}  // namespace

std::map<qint64, TestAccount> Reconciler::ownAccounts(archive::Connection& local,
                                                      LocalAccounts& accounts,
                                                      std::optional<KeptAccounts>& kept,
                                                      const std::vector<OutboxTest>& tests) {
    std::map<qint64, TestAccount> mine;
    std::vector<const OutboxTest*> made;
    // One read of the file for the kept accounts and the rows of those not kept, so that the
    // accounts kept are those of the rows read. Keeping them upgrades that read to a write,
    // which fails when another connection wrote meanwhile: then nothing is kept this time.
    archive::WriteTransaction transaction(local, archive::WriteTransaction::Begin::Deferred);
    for (const OutboxTest& t : tests) {
        if (kept) {
            if (std::optional<TestAccount> found = kept->find(t.id, t.uid)) {
                mine.emplace(t.id, *found);
                continue;
            }
        }
        // Read whole: a tally kept from before the test settled may count polls since rewritten.
        m_polls.erase(t.uid);
        PollTally tally;
        TestAccount account = accounts.of(t.id, tally);
        if (account.header.isEmpty()) continue;
        mine.emplace(t.id, account);
        made.push_back(&t);
    }
    if (!kept || made.empty()) return mine;
    try {
        for (const OutboxTest* t : made) kept->keep(t->id, t->uid, mine.at(t->id));
        transaction.commit();
    } catch (const archive::SqlError&) {
    }
    return mine;
}

bool Reconciler::compare(ArchiveOutbox& outbox, PgConnection& db, const OutboxTest& test,
                         const TestAccount& mine, const TestAccount& theirs) {
    const qint64 testId = test.id;
    if (theirs == mine) {
        m_resent.erase(testId);
        return false;
    }
    // Sent again already, and the server keeps what clashed apart: nothing more to send.
    if (auto was = m_resent.find(testId);
        was != m_resent.end() && was->second == theirs &&
        db.exec("SELECT EXISTS (SELECT 1 FROM conflicts WHERE test_uid = $1)",
                PgParams().add(test.uid))
                .text(0, 0) == QLatin1String("t"))
        return false;
    m_resent[testId] = theirs;
    ArchiveOutbox::Reopen parts;
    parts.header = theirs.header != mine.header;
    parts.states =
        parts.header || theirs.states != mine.states || theirs.statesSum != mine.statesSum;
    parts.records =
        parts.header || theirs.records != mine.records || theirs.recordsSum != mine.recordsSum;
    parts.polls = parts.header || theirs.polls != mine.polls || theirs.pollsSum != mine.pollsSum;
    outbox.reopen(testId, parts);
    return true;
}

Reconciler::Result Reconciler::run(ArchiveOutbox& outbox, archive::Connection& local,
                                   PgConnection& db, const QString& benchUid) {
    Result result;
    LocalAccounts accounts(local);
    // Without the kept accounts (the file is busy, say) every account is read from the rows.
    std::optional<KeptAccounts> kept;
    try {
        kept.emplace(local);
    } catch (const archive::SqlError&) {
    }
    qint64 after = 0;
    for (;;) {
        const std::vector<OutboxTest> tests = outbox.settledTests(after, kTestsPerQuery);
        if (tests.empty()) break;
        after = tests.back().id;
        const std::map<qint64, TestAccount> mine = ownAccounts(local, accounts, kept, tests);
        QStringList uids;
        for (const OutboxTest& t : tests) uids << t.uid;
        const std::map<QString, TestAccount> onServer = ServerAccounts(db, uids);
        for (const OutboxTest& t : tests) {
            ++result.checked;
            const auto known = mine.find(t.id);
            if (known == mine.end()) continue;  // deleted meanwhile
            const auto it = onServer.find(t.uid);
            if (compare(outbox, db, t, known->second,
                        it == onServer.end() ? TestAccount{} : it->second))
                ++result.reopened;
        }
    }
    // The audit trail: the events the marks call sent, against those the server holds.
    const AuditAccount mine = LocalAuditAccount(local);
    const AuditAccount theirs = ServerAuditAccount(db, benchUid);
    if (mine == theirs) {
        m_auditResent.reset();
    } else if (!m_auditResent || !(*m_auditResent == theirs)) {
        m_auditResent = theirs;
        result.events = ReopenMissingAudit(local, db);
    }
    return result;
}

bool Reconciler::recheck(ArchiveOutbox& outbox, archive::Connection& local, PgConnection& db,
                         const OutboxTest& test) {
    const TestAccount mine = LocalAccounts(local).of(test.id, m_polls[test.uid]);
    if (mine.header.isEmpty()) return false;
    const std::map<QString, TestAccount> onServer = ServerAccounts(db, {test.uid});
    const auto it = onServer.find(test.uid);
    return compare(outbox, db, test, mine, it == onServer.end() ? TestAccount{} : it->second);
}

}  // namespace server
