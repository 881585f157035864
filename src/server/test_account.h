#pragma once

#include <QString>
#include <QStringList>
#include <map>
#include <optional>

#include "archive/archive_rows.h"
#include "archive/sqlite_handle.h"
#include "server/pg_connection.h"

// A test's account: whether its header is there and what it holds, and for its state changes,
// records (the last revision of each) and polls how many there are and the sum of their rows'
// hashes. The server computes its own from the rows it holds (checked_rows_schema.h); the
// bench computes the same from its archive. A test is on the server when the two are equal,
// whatever the bench's marks of what it sent say.
namespace server {

struct RowSum {
    qint64 count = 0;
    unsigned __int128 sum = 0;
    // A row given as its fields' texts (a null QString is SQL NULL).
    void add(const QStringList& fields);
    QString sumText() const;  // decimal, as the server's numeric prints it
};

struct TestAccount {
    QString header;  // the header's hash; empty when the test is not there
    qint64 states = 0, records = 0, polls = 0;
    QString statesSum = QStringLiteral("0"), recordsSum = QStringLiteral("0"),
            pollsSum = QStringLiteral("0");
    bool operator==(const TestAccount&) const = default;
};

// The polls of a test seen so far (they only ever grow), so that the next account of the same
// test reads only the new ones.
struct PollTally {
    int lastSeq = 0;
    RowSum rows;
};

QStringList HeaderFields(const archive::TestHeader& header);
QStringList StateFields(int ordinal, const archive::StateChange& state);
QStringList RecordFields(const archive::RecordRow& record);
QStringList PollFields(int seq, const archive::PollRow& poll);

// The accounts of the archive's tests, read through statements prepared once.
class LocalAccounts {
  public:
    explicit LocalAccounts(archive::Connection& db);
    // The account of the test `testId` (an empty header when it is not there); `tally` carries
    // its polls from one call to the next (a fresh one reads them all).
    TestAccount of(qint64 testId, PollTally& tally);

  private:
    archive::Statement m_header, m_states, m_records, m_polls;
};

// The account of the archive's test `testId`, as LocalAccounts::of.
TestAccount LocalAccount(archive::Connection& db, qint64 testId, PollTally& tally);

// The server's accounts of the tests `uids`, by uid. Throws PgError.
std::map<QString, TestAccount> ServerAccounts(PgConnection& db, const QStringList& uids);

// The server's account of the polls of test `uid` counted from the rows it holds now, not from
// the tally its triggers keep (which a truncation, or a restore or change made without the
// triggers, leaves standing): sets `polls` and `pollsSum` of `account`. Throws PgError.
void CountServerPolls(PgConnection& db, const QString& uid, TestAccount& account);

// Whether the server holds every poll of the archive's test `testId` by its time, whatever
// numbers it holds them under (it holds more when an archive made anew numbered a resumed
// test's polls again). Throws PgError and archive::SqlError.
bool ServerHoldsPollsByTime(PgConnection& db, archive::Connection& local, qint64 testId,
                            const QString& uid);

// What the server lacks or holds otherwise than the archive, for the operator ("缺少记录 3
// 条、轮询数据 120 条"); empty when the two are equal.
QString AccountDifference(const TestAccount& local, const TestAccount& onServer);

}  // namespace server
