#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "archive/archive_rows.h"
#include "server/pg_connection.h"

// Reads the lab server's tests back as the local archive gives them: the list of every
// bench's tests, one test whole, its polls. Blocking: run on a worker thread. Failures are
// thrown as PgError.
namespace server {

// The bench a test ran on, as the list shows it: "LAB-PC-2 COM1（/dev/ttyUSB0）".
QString BenchText(const QString& hostName, const QString& portName, const QString& portDevice);

struct ServerTestList {
    // Newest first; each test's id is its place in this list (from 1), its uid the key.
    std::vector<archive::TestSummary> tests;
    std::vector<QString> benches;  // the bench of each test (BenchText)
};

ServerTestList ListServerTests(PgConnection& db);

// Test `uid` with its polls in the order they were taken, read in one snapshot; nothing when
// the server holds no such test. The test's id is 0 (it has no place in a local archive).
struct ServerTest {
    archive::ArchivedTest test;
    std::vector<archive::PollRow> polls;
};
std::optional<ServerTest> LoadServerTest(PgConnection& db, const QString& uid);

// The state and the closed mark a test's state changes, in their order, leave it in: as the
// local archive keeps them.
void ApplyStates(const std::vector<archive::StateChange>& changes, archive::TestState* state,
                 bool* closed);

}  // namespace server
