#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "archive/archive_rows.h"
#include "archive/sqlite_handle.h"

// What of the local archive has not reached the lab server yet, and the marks that say how far
// each test has been sent: the header, the number of state changes, each record's revision, the
// last poll, each audit event. A test all of whose rows are sent is "settled"; whatever is
// written to it later unsettles it again (the archive's triggers), so only the tests with
// something to send are looked at.
namespace server {

struct OutboxTest {
    qint64 id = 0;
    QString uid;
    bool headerSent = false;
    int statesSent = 0;
    int pollsSent = 0;  // the highest poll seq sent
};

struct OutboxRecord {
    archive::RecordRow row;
    int revision = 0;
};

struct OutboxPoll {
    int seq = 0;
    archive::PollRow row;
};

struct OutboxAudit {
    qint64 id = 0;
    QString uid, testUid, user, action, detail, fileKind, fileName, fileSha256;
    std::optional<qint64> fileSize;
    qint64 atMs = 0;
    QString hostName, portName, portDevice, programVersion;
};

class ArchiveOutbox {
  public:
    explicit ArchiveOutbox(archive::Connection& db) : m_db(db) {}

    // Tests with something to send, the running ones (not closed) first.
    std::vector<OutboxTest> unsettledTests(int limit);
    archive::TestHeader header(qint64 testId);
    std::vector<archive::StateChange> statesAfter(qint64 testId, int alreadySent);
    std::vector<OutboxRecord> unsentRecords(qint64 testId);
    std::vector<OutboxPoll> pollsAfter(qint64 testId, int seq, int limit);
    std::vector<OutboxAudit> unsentAudit(int limit);

    // The marks, each in a write transaction of its own, never lowered.
    void markHeader(qint64 testId);
    void markStates(qint64 testId, int count);
    void markRecords(qint64 testId, const std::vector<OutboxRecord>& sent);
    void markPolls(qint64 testId, int seq);
    void markAudit(const std::vector<OutboxAudit>& sent);
    // Settles the test when nothing of it is left to send; true when it did.
    bool settle(qint64 testId);

    // Rows not yet on the server: tests, state changes, records, polls and audit events.
    qint64 pendingCount();

    // The marks belong to the server database `serverUid`: when they belonged to another one
    // (the lab moved to a new server), every mark is cleared so that all is sent again.
    // True when it cleared them.
    bool markFor(const QString& serverUid);

  private:
    archive::Connection& m_db;
};

// True when the test `uid` of the archive at `path` has nothing left to send (or is not in the
// archive); false while some of it waits, or when the archive cannot be read.
bool FullySent(const QString& archivePath, const QString& uid);

}  // namespace server
