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

// A LIKE pattern that finds `text` anywhere, its own % _ and \ taken literally.
QString ContainsPattern(const QString& text);

// The bench a test ran on, as the list shows it: "LAB-PC-2 COM1（/dev/ttyUSB0）".
QString BenchText(const QString& hostName, const QString& portName, const QString& portDevice);

// The SQL of the labels a test is shown with, for BenchText (its host name, port name and
// port device), over its bench `b` in a database of `version`, the test's uid being the SQL
// `uid`: the test's own, as kept when it started, where it has them; the bench row's otherwise
// (a test sent before the server kept them, a database older than that). The test's are looked
// up by its key in subqueries the server evaluates for the rows it hands only, after its
// ordering and limit.
QByteArray TestBenchLabelsSql(int version, const char* uid);

// Which tests of the server a page of the list holds.
struct ServerListQuery {
    QString search;                // a part of the tester, the organisation or the date
    std::vector<qint64> benchIds;  // only the tests of these benches; none: every bench
    // The last test of the page before (its start and uid); none: the first page.
    std::optional<std::pair<qint64, QString>> after;
    int limit = 500;
    qint64 firstId = 1;    // the id of the page's first test
    bool benches = false;  // the benches read too (ServerTestList::benchList)
};

struct ServerTestList {
    // Newest first; each test's id is its place in the whole list (from 1), its uid the key.
    std::vector<archive::TestSummary> tests;
    std::vector<QString> benches;  // the bench of each test (BenchText)
    bool more = false;             // more tests follow this page
    // When asked: every bench that sent a test, as the list shows it (BenchText), with the ids
    // the server keeps it under (a bench may be known under several), in the order of their
    // texts.
    std::vector<std::pair<QString, std::vector<qint64>>> benchList;
    // Read with the benches: rows the server keeps apart because it held their key with other
    // content, of the tests of the benches asked for (every bench when none).
    qint64 conflicts = 0;
};

// One page of the server's tests, filtered and ordered by the server on its indices. Reads
// only: a database of an older or newer version than this program reads is refused with a
// clear message, never upgraded.
ServerTestList ListServerTests(PgConnection& db, const ServerListQuery& query = {});

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
