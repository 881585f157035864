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
    QString usbSerial;  // null when the archive did not keep it (an older program's event)
};

// The bench a test ran on as it was when the test started: the computer's name and the USB
// adapter's serial number (null when the archive did not keep it).
struct StartLabels {
    QString hostName, usbSerial;
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
    // Unsent events after the event `afterId` (0: from the first), oldest first.
    std::vector<OutboxAudit> unsentAudit(int limit, qint64 afterId = 0);

    // The bench's labels when the test started, as its first audit event keeps them (empty
    // when the archive has none).
    StartLabels startedOn(const QString& uid);

    // What one server transaction took of a test, marked in one write transaction once it
    // was committed; marks are never lowered. `pollSeq` 0: no polls.
    void markSent(qint64 testId, bool header, int statesCount,
                  const std::vector<OutboxRecord>& records, int pollSeq);
    void markAudit(const std::vector<OutboxAudit>& sent);
    // Settles the test when nothing of it is left to send; true when it did.
    bool settle(qint64 testId);

    // The settled tests after `afterId`, by id.
    std::vector<OutboxTest> settledTests(qint64 afterId, int limit);
    // What of the test is to be sent again, because the server does not hold it as the
    // archive does: the test is unsettled and the marks named are cleared.
    struct Reopen {
        bool header = false, states = false, records = false, polls = false;
    };
    void reopen(qint64 testId, const Reopen& parts);

    // Rows not yet on the server: tests, state changes, records, polls and audit events.
    qint64 pendingCount();

    // The marks belong to the server database `serverUid`: when they belonged to another one
    // (the lab moved to a new server), every mark is cleared so that all is sent again.
    // True when it cleared them.
    bool markFor(const QString& serverUid);

  private:
    archive::Connection& m_db;
};

// Rows of the archive at `path` not yet on the server; none when it cannot be read.
std::optional<qint64> PendingRows(const QString& archivePath);

}  // namespace server
