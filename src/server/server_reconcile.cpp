#include "server/server_reconcile.h"

namespace server {
namespace {

// Tests asked about in one statement.
constexpr int kTestsPerQuery = 1000;

}  // namespace

bool Reconciler::compare(ArchiveOutbox& outbox, const OutboxTest& test, const TestAccount& mine,
                         const TestAccount& theirs) {
    const qint64 testId = test.id;
    if (theirs == mine) {
        m_resent.erase(testId);
        return false;
    }
    if (auto was = m_resent.find(testId); was != m_resent.end() && was->second == theirs)
        return false;  // sent again already; the server keeps what clashed
    m_resent[testId] = theirs;
    ArchiveOutbox::Reopen parts;
    parts.header = theirs.header != mine.header;
    parts.states =
        parts.header || theirs.states != mine.states || theirs.statesSum != mine.statesSum;
    parts.records =
        parts.header || theirs.records != mine.records || theirs.recordsSum != mine.recordsSum;
    parts.polls = parts.header || theirs.polls != mine.polls || theirs.pollsSum != mine.pollsSum;
    outbox.reopen(testId, parts);
    m_local.erase(test.uid);
    return true;
}

Reconciler::Result Reconciler::run(ArchiveOutbox& outbox, archive::Connection& local,
                                   PgConnection& db, const QString& benchUid) {
    Result result;
    LocalAccounts accounts(local);
    qint64 after = 0;
    for (;;) {
        const std::vector<OutboxTest> tests = outbox.settledTests(after, kTestsPerQuery);
        if (tests.empty()) break;
        after = tests.back().id;
        QStringList uids;
        for (const OutboxTest& t : tests) uids << t.uid;
        const std::map<QString, TestAccount> onServer = ServerAccounts(db, uids);
        for (const OutboxTest& t : tests) {
            ++result.checked;
            // A settled test's own account is hashed once: whatever is written to it later
            // unsettles it, and the sender then forgets the account (changed()).
            auto known = m_local.find(t.uid);
            if (known == m_local.end()) {
                const TestAccount mine = accounts.of(t.id, m_polls[t.uid]);
                if (mine.header.isEmpty()) continue;  // deleted meanwhile
                known = m_local.emplace(t.uid, mine).first;
            }
            const auto it = onServer.find(t.uid);
            if (compare(outbox, t, known->second,
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
    return compare(outbox, test, mine, it == onServer.end() ? TestAccount{} : it->second);
}

}  // namespace server
