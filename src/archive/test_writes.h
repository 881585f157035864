#pragma once

#include <QString>
#include <optional>
#include <utility>
#include <vector>

#include "archive/archive_rows.h"
#include "archive/sqlite_handle.h"

// The archive's writes, on one connection: a new test, a state change, a record (each in a
// transaction of its own) and a batch of polls (one transaction for the batch). Every call
// throws SqlError when the archive refuses.
namespace archive {

class TestWrites {
  public:
    explicit TestWrites(Connection& db);

    // A uid already in the archive keeps its row as it is.
    void beginTest(const TestHeader& header);
    // Each of these finds the test by its uid inside its transaction (the history window may
    // have deleted it meanwhile); they return how many rows they wrote, none for a test that is
    // not in the archive.
    int changeState(const QString& uid, TestState state, qint64 atMs);
    int addRecord(const QString& uid, const RecordRow& record);
    int addPolls(const std::vector<std::pair<QString, const PollRow*>>& polls);
    // Whether the archive holds the test.
    bool holds(const QString& uid) { return testId(uid) != 0; }

    // How much of a test the archive holds; none when it does not hold the test.
    struct Counts {
        qint64 states = 0, records = 0, polls = 0;
    };
    std::optional<Counts> counts(const QString& uid);
    // Whether the test has this state change already (an ending written twice is written once).
    bool hasStateChange(const QString& uid, TestState state, qint64 atMs);
    // The key of the test's lock name (TestHeader::lockKey); empty when not kept.
    QString lockKey(const QString& uid);

  private:
    Connection& m_db;
    Statement m_insertTest, m_findTest, m_insertState, m_setState, m_insertRecord, m_refreshSummary,
        m_insertPoll, m_counts, m_findState;

    qint64 testId(const QString& uid);  // 0 when it is not in the archive
};

}  // namespace archive
