#pragma once

#include <QString>
#include <map>
#include <optional>

#include "server/archive_outbox.h"
#include "server/audit_account.h"
#include "server/kept_accounts.h"
#include "server/test_account.h"

// Checks the archive against the server's own account of it (test_account.h,
// audit_account.h), instead of believing the marks of what was sent: whatever the server does
// not hold as the archive does is marked to be sent again. A restored, replaced or emptied
// server is caught up this way whatever its identity says. A test that still differs after it
// was sent again because the server keeps the clashing rows as conflicts is not sent over and
// over: it is sent again only when the server's account of it changes. One that differs the
// same way without a conflict on the server (the same dump restored again) goes again. Settled tests' own accounts
// are kept in the archive (kept_accounts.h), so a check after a start reads them back instead
// of hashing every row again.
namespace server {

class Reconciler {
  public:
    struct Result {
        int checked = 0;
        int reopened = 0;  // tests marked to be sent again
        int events = 0;    // audit events marked to be sent again
    };
    // Every settled test and the bench's audit trail. Throws PgError and archive::SqlError.
    Result run(ArchiveOutbox& outbox, archive::Connection& local, PgConnection& db,
               const QString& benchUid);

    // A test under way whose rows the server refused (a restored server lacks its header,
    // say): compared with the server's account and what the server lacks marked to be sent
    // again, header first. False when there was nothing to mark, or it was marked already for
    // the account the server gives now. Throws PgError and archive::SqlError.
    bool recheck(ArchiveOutbox& outbox, archive::Connection& local, PgConnection& db,
                 const OutboxTest& test);

    // Forgets what it knew of the archive (another archive file is open now).
    void forget() {
        m_polls.clear();
        m_resent.clear();
        m_auditResent.reset();
    }

  private:
    // The archive's own accounts of `tests`, by id (none for a test deleted meanwhile): kept
    // ones where the file holds them, the others read from the rows and kept.
    std::map<qint64, TestAccount> ownAccounts(archive::Connection& local, LocalAccounts& accounts,
                                              std::optional<KeptAccounts>& kept,
                                              const std::vector<OutboxTest>& tests);
    // Marks what differs; true when it did.
    bool compare(ArchiveOutbox& outbox, PgConnection& db, const OutboxTest& test,
                 const TestAccount& mine, const TestAccount& theirs);

    std::map<QString, PollTally> m_polls;    // by test uid
    std::map<qint64, TestAccount> m_resent;  // the server's account when last sent again
    std::optional<AuditAccount> m_auditResent;
};

}  // namespace server
