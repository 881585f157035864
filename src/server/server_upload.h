#pragma once

#include <QString>
#include <map>
#include <vector>

#include "archive/archive_rows.h"
#include "server/archive_outbox.h"
#include "server/pg_connection.h"

// The lab server's side of sending: each call is one INSERT of many rows that skips the rows
// the server holds already, so whatever is sent twice (after a lost answer, a crash, a second
// copy of the program on the same archive) is stored once.
namespace server {

class ServerUpload {
  public:
    // `hostName`: this computer's name, part of every bench's identity.
    ServerUpload(PgConnection& db, QString hostName);

    void sendTest(const archive::TestHeader& header);
    // States numbered from `firstOrdinal` on (1-based, in the order they happened).
    void sendStates(const QString& uid, int firstOrdinal,
                    const std::vector<archive::StateChange>& states);
    void sendRecords(const QString& uid, const std::vector<OutboxRecord>& records);
    void sendPolls(const QString& uid, const std::vector<OutboxPoll>& polls);
    void sendAudit(const std::vector<OutboxAudit>& events);

  private:
    PgConnection& m_db;
    QString m_hostName;
    std::map<QString, qint64> m_benches;  // by host, port, device, version

    // The bench's row (made on its first test), with the USB adapter's serial number.
    qint64 benchId(const QString& hostName, const QString& portName, const QString& portDevice,
                   const QString& programVersion);
};

}  // namespace server
