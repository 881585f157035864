#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>

// Writing an export file so that it is either complete or not there at all: the bytes go
// to a temporary file in the target's folder, which is renamed over the target only after
// everything was written. On any failure the temporary file is removed and a file that
// already had the name stays exactly as it was.
//
// Returns true on success; otherwise `reason` (when given) receives a short Chinese
// explanation of the cause for the operator.
bool ReplaceFileContents(const QString& path, const QByteArray& bytes, QString* reason = nullptr);

// The name the save dialogs propose: the date as "%d-%d-%d" (year, month, day; no zeros).
QString ProposedExportName(const QDate& date = QDate::currentDate());
