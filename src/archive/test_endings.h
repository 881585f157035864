#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

#include "archive/archive_rows.h"

// The state changes a program could not write into the archive before it ended (a full disk,
// an archive busy past the end of the program): left beside the archive as a small file per
// test ("kivo.sqlite.locks/<uid>.ended"), written before the test's lock is let go, and written
// into the archive by the next program that can. While such a file is there, the test is not
// offered for recovery: it ended.
namespace archive {

namespace TestEndings {

// Leaves `changes` for the test; false when the file could not be written.
bool leave(const QString& archivePath, const QString& uid, const std::vector<StateChange>& changes);
// The two halves of leave(): `changes` written whole under a name of their own beside the
// test's file (empty when they could not be), then renamed into the test's file. Each rename
// puts a whole file in place.
QByteArray writeAside(const QString& archivePath, const QString& uid,
                      const std::vector<StateChange>& changes);
bool putInPlace(const QString& archivePath, const QString& uid, const QByteArray& aside);
// Puts `aside` in place only where no ending of the test is yet; removes it either way.
void putInPlaceIfNone(const QString& archivePath, const QString& uid, const QByteArray& aside);
bool pending(const QString& archivePath, const QString& uid);
// The tests that have an ending waiting.
QStringList waiting(const QString& archivePath);
std::vector<StateChange> read(const QString& archivePath, const QString& uid);
void remove(const QString& archivePath, const QString& uid);

}  // namespace TestEndings

}  // namespace archive
