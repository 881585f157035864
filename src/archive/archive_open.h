#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>

#include "archive/archive_schema.h"
#include "archive/archive_use.h"
#include "archive/sqlite_handle.h"

// Opens the archive for use: the connection's settings, the journal (WAL, which the archive
// needs: readers never block the writer), the schema brought up to date. A file that SQLite
// finds damaged or not a database is reported; the writer (and only it) renames it aside (never
// overwritten) and starts a new archive in its place, provided no other copy of the program has
// the file open. An archive of a newer program is left as it is.
namespace archive {

// How long a connection waits for another copy of the program to finish its write.
constexpr int kBusyTimeoutMs = 4000;

// What is done with a damaged file.
enum class Damage {
    Report,     // readers: say so and leave it
    MoveAside,  // the writer: moved aside when no other program has it open
};

// One file, whatever its name: damage belongs to a file, and another file put at the path
// since is a different archive.
struct FileId {
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FileId&) const = default;
};
std::optional<FileId> IdentifyFile(const QString& path);

struct OpenedArchive {
    std::unique_ptr<ArchiveUse> use;  // held while the connection lives
    std::unique_ptr<Connection> db;   // null when the archive cannot be used
    // Why it cannot be used, or what was done to make it usable; empty when all went well.
    QString message;
    bool movedAside = false;  // the archive was new-made in place of a damaged one
    // The archive cannot be used by this program however often it is tried (a newer
    // program's archive, a file system without the WAL journal's shared memory).
    bool permanent = false;
    // The damaged file left at the path because another program has it open.
    std::optional<FileId> damaged;
};

// `knownDamaged`: a file the writer met damaged while writing; when that very file is still at
// the path it is moved aside without being checked again, any other file is opened as it is.
OpenedArchive OpenArchive(const QString& path, int busyTimeoutMs = kBusyTimeoutMs,
                          int version = kArchiveVersion, Damage damage = Damage::Report,
                          std::optional<FileId> knownDamaged = std::nullopt);

// The settings every connection runs with; used by OpenArchive and by anything (tests,
// benchmarks) that opens the file by itself.
void ConfigureConnection(Connection& db, int busyTimeoutMs);

}  // namespace archive
