#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "archive/archive_rows.h"

namespace archive {

class ArchiveUse;
class Connection;

// Reads the archive, and makes the few changes the history window makes, on the caller's
// thread with a connection of its own that lives as long as the object. A read that fails
// returns nothing and leaves the reason in lastError().
class ArchiveReader {
  public:
    // Null when the archive cannot be used; `message` then says why. A damaged archive is
    // reported and left as it is (the writer deals with it).
    static std::unique_ptr<ArchiveReader> open(const QString& path, QString* message);
    ~ArchiveReader();

    std::vector<TestSummary> unfinishedTests();  // neither ended nor closed; newest first
    std::vector<TestSummary> listTests();        // all, newest first
    // The test of `uid` as the archive holds it now; nothing when it is gone (or on a failure,
    // see lastError()).
    std::optional<TestSummary> testOf(const QString& uid);
    std::optional<ArchivedTest> loadTest(qint64 id);
    std::vector<PollRow> polls(qint64 id);       // in the order they were taken
    std::optional<PollRow> lastPoll(qint64 id);  // the latest; nothing when there is none
    // The audit trail's events about the test `uid`, in the order they were recorded.
    std::vector<AuditRow> auditEvents(const QString& uid);
    // The test of `uid` and everything of it, in one transaction. A test is named by its uid,
    // never by its row id: a row id freed by a deletion is given to the next test made.
    bool deleteTest(const QString& uid, QString* message);

    QString lastError() const { return m_lastError; }

  private:
    ArchiveReader(QString path, std::unique_ptr<ArchiveUse> use, std::unique_ptr<Connection> db);
    std::vector<TestSummary> summaries(const char* where, const QString& uid = QString());
    std::vector<PollRow> pollRows(qint64 id, const char* order);

    QString m_path;
    std::unique_ptr<ArchiveUse> m_use;  // outlives the connection
    std::unique_ptr<Connection> m_db;
    QString m_lastError;
};

}  // namespace archive
