#include "server/kept_accounts.h"

#include <string>

#include "archive/archive_columns.h"

namespace server {
namespace {

// The triggers' names; the file lacks the table or one of them when fewer are there.
constexpr const char* kObjects[] = {"sender_account",
                                    "sender_account_test_new",
                                    "sender_account_test_changed",
                                    "sender_account_test_gone",
                                    "sender_account_state_new",
                                    "sender_account_state_changed",
                                    "sender_account_state_gone",
                                    "sender_account_record_new",
                                    "sender_account_record_changed",
                                    "sender_account_record_gone",
                                    "sender_account_poll_new",
                                    "sender_account_poll_changed",
                                    "sender_account_poll_gone"};

// Drops the account of a test on what a trigger on `table` sees happen to a row.
std::string Trigger(const char* name, const char* when, const char* table, const char* forget) {
    return std::string("CREATE TRIGGER IF NOT EXISTS ") + name + " AFTER " + when + " ON " + table +
           " BEGIN DELETE FROM sender_account WHERE " + forget + "; END;\n";
}

std::string Schema() {
    // What a record's account reads, and its revision: not the marks of what was sent.
    const std::string recordColumns =
        std::string("UPDATE OF test_id, revision, ") + archive::kRecordRowColumns;
    const std::string headerColumns = std::string("UPDATE OF id, ") + archive::kTestHeaderColumns;
    const char* both = "test_id IN (OLD.test_id, NEW.test_id)";
    std::string sql = R"(
CREATE TABLE IF NOT EXISTS sender_account (
  test_id INTEGER PRIMARY KEY,
  uid TEXT NOT NULL,
  header TEXT NOT NULL,
  states INTEGER NOT NULL, states_sum TEXT NOT NULL,
  records INTEGER NOT NULL, records_sum TEXT NOT NULL,
  polls INTEGER NOT NULL, polls_sum TEXT NOT NULL
);
)";
    sql += Trigger("sender_account_test_new", "INSERT", "test", "test_id = NEW.id");
    sql += Trigger("sender_account_test_changed", headerColumns.c_str(), "test",
                   "test_id IN (OLD.id, NEW.id)");
    sql += Trigger("sender_account_test_gone", "DELETE", "test", "test_id = OLD.id");
    sql += Trigger("sender_account_state_new", "INSERT", "state_change", "test_id = NEW.test_id");
    sql += Trigger("sender_account_state_changed", "UPDATE", "state_change", both);
    sql += Trigger("sender_account_state_gone", "DELETE", "state_change", "test_id = OLD.test_id");
    sql += Trigger("sender_account_record_new", "INSERT", "record", "test_id = NEW.test_id");
    sql += Trigger("sender_account_record_changed", recordColumns.c_str(), "record", both);
    sql += Trigger("sender_account_record_gone", "DELETE", "record", "test_id = OLD.test_id");
    sql += Trigger("sender_account_poll_new", "INSERT", "poll", "test_id = NEW.test_id");
    sql += Trigger("sender_account_poll_changed", "UPDATE", "poll", both);
    sql += Trigger("sender_account_poll_gone", "DELETE", "poll", "test_id = OLD.test_id");
    return sql;
}

archive::Connection& Prepared(archive::Connection& db) {
    std::string names;
    for (const char* name : kObjects) names += std::string(names.empty() ? "'" : ",'") + name + "'";
    const std::string count = "SELECT count(*) FROM sqlite_schema WHERE name IN (" + names + ")";
    if (db.queryInt(count.c_str()) != qint64(std::size(kObjects))) {
        archive::WriteTransaction t(db);
        db.exec(Schema().c_str());
        t.commit();
    }
    return db;
}

}  // namespace

KeptAccounts::KeptAccounts(archive::Connection& db)
    : m_find(Prepared(db),
             "SELECT uid, header, states, states_sum, records, records_sum, polls, polls_sum "
             "FROM sender_account WHERE test_id = ?1"),
      m_keep(
          db,
          "INSERT OR REPLACE INTO sender_account (test_id, uid, header, states, states_sum, "
          "records, records_sum, polls, polls_sum) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)") {}

std::optional<TestAccount> KeptAccounts::find(qint64 testId, const QString& uid) {
    m_find.bind(1, testId);
    std::optional<TestAccount> found;
    if (m_find.step() && m_find.text(0) == uid) {
        TestAccount a;
        a.header = m_find.text(1);
        a.states = m_find.integer(2);
        a.statesSum = m_find.text(3);
        a.records = m_find.integer(4);
        a.recordsSum = m_find.text(5);
        a.polls = m_find.integer(6);
        a.pollsSum = m_find.text(7);
        found = a;
    }
    m_find.reset();
    return found;
}

void KeptAccounts::keep(qint64 testId, const QString& uid, const TestAccount& a) {
    m_keep.bind(1, testId)
        .bind(2, uid)
        .bind(3, a.header)
        .bind(4, a.states)
        .bind(5, a.statesSum)
        .bind(6, a.records)
        .bind(7, a.recordsSum)
        .bind(8, a.polls)
        .bind(9, a.pollsSum);
    m_keep.run();
}

}  // namespace server
