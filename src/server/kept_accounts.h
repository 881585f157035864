#pragma once

#include <QString>
#include <optional>

#include "archive/sqlite_handle.h"
#include "server/test_account.h"

// Settled tests' own accounts kept in the archive file across starts, so that the first check
// after a start does not hash every row again. They sit in a table of the sender's own
// (sender_account), beside the archive's tables without changing its version. Triggers in the
// same file drop a test's kept account whenever anything of its rows changes: its header, a
// state change, a record (a new revision too) or a poll is written or deleted, or the test is
// deleted. They fire for every program that writes to the file, so an account another program
// made stale is never read back; the row must also name the same test uid.
namespace server {

class KeptAccounts {
  public:
    // Creates the table and its triggers when the file lacks them. Throws archive::SqlError.
    explicit KeptAccounts(archive::Connection& db);

    // The account kept for the archive's test `testId`, when it is still the test `uid`.
    std::optional<TestAccount> find(qint64 testId, const QString& uid);
    // Keeps the account of a test read in the same transaction. Throws archive::SqlError.
    void keep(qint64 testId, const QString& uid, const TestAccount& account);

  private:
    archive::Statement m_find, m_keep;
};

}  // namespace server
