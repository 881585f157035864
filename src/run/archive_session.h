#pragma once

#include <QString>
#include <functional>
#include <memory>

namespace archive {
class ArchiveWriter;
class AuditTrail;
}  // namespace archive

// The program's test archive: one writer for the whole program, opened at start-up and
// closed at the end. Without it (tests that make a form of their own, an archive that could
// not be opened) every test runs exactly as it would without an archive.
namespace ArchiveSession {

// Starts the writer and the audit trail on `path` (the archive file of this program unless told
// otherwise). `committed`, when given, is called on the writer's thread after each record's
// commit (the lab server's sender is woken by it).
void open(const QString& path, std::function<void()> committed = {});
// Writes what is still pending and ends the writer; records that could not be archived are
// named to the operator (a message box) before it returns.
void close();

// The writer, or null when there is none. Any thread; the caller's reference keeps the writer
// alive while it uses it.
std::shared_ptr<archive::ArchiveWriter> writer();
// The audit trail, or null when there is no archive. Any thread.
std::shared_ptr<archive::AuditTrail> audit();
// The archive's file, empty when there is no archive.
QString path();
// This process's mark (see process_mark.h), read as the archive was opened; empty when there
// is no archive.
QString processMark();

// Shows an archive failure to the operator, once, without keeping the caller waiting.
void reportFailure(const QString& message);

}  // namespace ArchiveSession
