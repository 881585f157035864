#pragma once

#include <QString>
#include <memory>

namespace archive {
class ArchiveWriter;
}

// The program's test archive: one writer for the whole program, opened at start-up and
// closed at the end. Without it (tests that make a form of their own, an archive that could
// not be opened) every test runs exactly as it would without an archive.
namespace ArchiveSession {

// Starts the writer on `path` (the archive file of this program unless told otherwise).
void open(const QString& path);
// Writes what is still pending and ends the writer; records that could not be archived are
// named to the operator (a message box) before it returns.
void close();

// The writer, or null when there is none. Any thread; the caller's reference keeps the writer
// alive while it uses it.
std::shared_ptr<archive::ArchiveWriter> writer();
// The archive's file, empty when there is no archive.
QString path();

// Shows an archive failure to the operator, once, without keeping the caller waiting.
void reportFailure(const QString& message);

}  // namespace ArchiveSession
