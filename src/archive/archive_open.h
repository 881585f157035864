#pragma once

#include <QString>
#include <memory>

#include "archive/archive_schema.h"
#include "archive/sqlite_handle.h"

// Opens the archive for use: the connection's settings, the journal, the schema brought up to
// date. A file that SQLite finds damaged or not a database is renamed aside (never
// overwritten) and a new archive started in its place; an archive of a newer program is left
// as it is.
namespace archive {

// How long a connection waits for another copy of the program to finish its write.
constexpr int kBusyTimeoutMs = 4000;

struct OpenedArchive {
    std::unique_ptr<Connection> db;  // null when the archive cannot be used
    // Why it cannot be used, or what was done to make it usable; empty when all went well.
    QString message;
};

OpenedArchive OpenArchive(const QString& path, int busyTimeoutMs = kBusyTimeoutMs,
                          int version = kArchiveVersion);

// The settings every connection runs with; used by OpenArchive and by anything (tests,
// benchmarks) that opens the file by itself.
void ConfigureConnection(Connection& db, int busyTimeoutMs);

}  // namespace archive
