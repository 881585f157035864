#pragma once

#include <QString>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "archive/archive_rows.h"
#include "archive/test_writes.h"
#include "archive/writer_items.h"

// Everything committed of the tests under way, so that an archive that lacks some of it (a
// new one made in place of a damaged one, or a rewrite cut short by a full disk or a busy
// archive) gets it again. What the archive holds is told by its counts of each test's state
// changes, records and polls against the log's, never by the test's row alone, so a rewrite
// that stopped part-way is taken up where it stopped and nothing is written twice.
//
// The log keeps every state change and record, and the newest `mostPolls` polls of each test
// (the writer's `maxWaitingPolls`, some 28 hours at one poll every two seconds): older polls
// are in the archive they were committed to, and should that archive be replaced they are
// counted as lost.
namespace archive::writer {

class RewriteLog {
  public:
    explicit RewriteLog(size_t mostPolls) : m_mostPolls(mostPolls) {}

    // Called once an item has been committed.
    void committed(const OtherItem& item);
    void committed(std::vector<PollItem>& polls);
    void forget(const QString& uid) { m_tests.erase(uid); }
    // Whether the test's row has been committed (it may be offered for recovery after a kill).
    bool holds(const QString& uid) const {
        const auto found = m_tests.find(uid);
        return found != m_tests.end() && found->second.header != nullptr;
    }

    // Writes what the archive lacks of each test under way, oldest first. Returns the polls
    // the archive lacks that the log no longer holds. Throws SqlError as the writes do.
    qint64 complete(TestWrites& writes);

  private:
    struct TestLog {
        std::shared_ptr<const TestHeader> header;
        std::vector<StateChange> states;
        std::map<int, RecordRow> records;
        std::deque<PollRow> polls;
        qint64 pollsBefore = 0;  // the test's polls in the archive before polls.front()
    };
    std::map<QString, TestLog> m_tests;
    size_t m_mostPolls;
};

}  // namespace archive::writer
