#pragma once

#include <QString>
#include <map>

#include "server/archive_outbox.h"
#include "server/test_account.h"

// Checks the settled tests of the archive against the server's own account of them
// (test_account.h), instead of believing the marks of what was sent: whatever the server does
// not hold as the archive does is marked to be sent again. A restored, replaced or emptied
// server is caught up this way whatever its identity says. A test that still differs after it
// was sent again (the server keeps the clashing rows as conflicts) is not sent over and over:
// it is sent again only when the server's account of it changes.
namespace server {

class Reconciler {
  public:
    struct Result {
        int checked = 0;
        int reopened = 0;  // tests marked to be sent again
    };
    // Throws PgError and archive::SqlError.
    Result run(ArchiveOutbox& outbox, archive::Connection& local, PgConnection& db);

    // Forgets what it knew of the archive's polls (another archive file is open now).
    void forget() { m_polls.clear(); }

  private:
    std::map<QString, PollTally> m_polls;    // by test uid
    std::map<qint64, TestAccount> m_resent;  // the server's account when last sent again
};

}  // namespace server
