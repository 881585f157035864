#pragma once

#include <QString>

#include "server/server_settings.h"

// Before a test leaves this computer: asks the lab server, at that moment, for its own account
// of the test and compares it with the archive's (test_account.h).
namespace server {

// Empty when the server holds the test `uid` of the archive at `archivePath` whole, as the
// archive keeps it; otherwise why not, for the operator: what the server lacks, or why it
// could not be asked. Waits for the server within the connection's time limits: call it off
// the GUI thread.
QString WhyNotWholeOnServer(const QString& archivePath, const QString& uid,
                            const ServerSettings& settings);

}  // namespace server
