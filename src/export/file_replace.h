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
// explanation of the cause for the operator. A read-only target is never replaced.
bool ReplaceFileContents(const QString& path, const QByteArray& bytes, QString* reason = nullptr);

// ReplaceFileContents for a save the operator asked for: empty on success, otherwise the
// text to show: "无法保存" + `what` + the path and the cause, and that the file already there
// (if one was) has not been changed.
QString ReplaceFileContentsOrExplain(const QString& path, const QByteArray& bytes,
                                     const QString& what);

// Why the file already at `path` must not be replaced, in Chinese for the operator: it has no
// write permission bits (judged by the bits, as root may write anyway), this user may not
// write it, or it is marked immutable or append-only. Empty when there is no such file or
// none of these holds.
QString ReadOnlyTargetReason(const QString& path);

// The name the save dialogs propose: the date as "%d-%d-%d" (year, month, day; no zeros).
QString ProposedExportName(const QDate& date = QDate::currentDate());
