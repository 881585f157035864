#pragma once

#include <QString>
#include <map>
#include <optional>
#include <vector>

#include "archive/archive_rows.h"
#include "server/archive_outbox.h"
#include "server/pg_connection.h"

// The lab server's side of sending: each call is one INSERT of many rows that skips the rows
// the server holds already, so whatever is sent twice (after a lost answer, a crash, a second
// copy of the program on the same archive) is stored once. The caller puts a test's rows of
// one round in one transaction.
namespace server {

class ServerUpload {
  public:
    // `benchUid`: the stable id kept beside the archive (bench_uid.h); `hostName`: this
    // computer's name, the label of a test whose archive does not say where it started.
    ServerUpload(PgConnection& db, QString benchUid, QString hostName);

    // `startedOn`: the bench's labels when the test started (empty: this computer's name and
    // the adapter behind the port now), kept with the test.
    void sendTest(const archive::TestHeader& header, const StartLabels& startedOn = {});
    // Makes the bench row of the test now when it is not there yet: called before the test's
    // transaction, so a test the server refuses leaves no bench id behind that the server
    // does not hold.
    void prepareBench(const archive::TestHeader& header, const StartLabels& startedOn = {});
    // States numbered from `firstOrdinal` on (1-based, in the order they happened).
    void sendStates(const QString& uid, int firstOrdinal,
                    const std::vector<archive::StateChange>& states);
    void sendRecords(const QString& uid, const std::vector<OutboxRecord>& records);
    void sendPolls(const QString& uid, const std::vector<OutboxPoll>& polls);
    // The events the server took. One it refuses (filed against a test it does not hold, or
    // not this bench's) does not hold up the others: they go one at a time and the refused
    // ones stay unsent, the first refusal in `refused`.
    std::vector<OutboxAudit> sendAudit(const std::vector<OutboxAudit>& events,
                                       std::optional<PgError>& refused);

  private:
    PgConnection& m_db;
    QString m_benchUid;
    QString m_hostName;
    std::map<QString, qint64> m_benches;  // by port

    // The bench's row of the port (made with the labels of its first test or event, the USB
    // adapter's serial number among them).
    qint64 benchId(const QString& hostName, const QString& portName, const QString& portDevice,
                   const QString& usbSerial, const QString& programVersion);
    // The labels a test is sent with: those kept at its start, else the best guess now.
    StartLabels labelsOf(const archive::TestHeader& header, const StartLabels& startedOn) const;
    qint64 benchOf(const archive::TestHeader& header, const StartLabels& labels);
    void insertAudit(std::vector<OutboxAudit>::const_iterator first,
                     std::vector<OutboxAudit>::const_iterator end);
};

}  // namespace server
