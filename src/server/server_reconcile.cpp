#include "server/server_reconcile.h"

namespace server {
namespace {

// Tests asked about in one statement.
constexpr int kTestsPerQuery = 500;

}  // namespace

Reconciler::Result Reconciler::run(ArchiveOutbox& outbox, archive::Connection& local,
                                   PgConnection& db) {
    Result result;
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
            const TestAccount mine = LocalAccount(local, t.id, m_polls[t.uid]);
            if (mine.header.isEmpty()) continue;  // deleted meanwhile
            const auto it = onServer.find(t.uid);
            const TestAccount theirs = it == onServer.end() ? TestAccount{} : it->second;
            if (theirs == mine) {
                m_resent.erase(t.id);
                continue;
            }
            if (auto was = m_resent.find(t.id); was != m_resent.end() && was->second == theirs)
                continue;  // sent again already; the server keeps what clashed
            m_resent[t.id] = theirs;
            ArchiveOutbox::Reopen parts;
            parts.header = theirs.header != mine.header;
            parts.states =
                parts.header || theirs.states != mine.states || theirs.statesSum != mine.statesSum;
            parts.records = parts.header || theirs.records != mine.records ||
                            theirs.recordsSum != mine.recordsSum;
            parts.polls =
                parts.header || theirs.polls != mine.polls || theirs.pollsSum != mine.pollsSum;
            outbox.reopen(t.id, parts);
            ++result.reopened;
        }
    }
    return result;
}

}  // namespace server
