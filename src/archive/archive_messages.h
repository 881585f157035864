#pragma once

#include <QString>
#include <QStringList>

#include "archive/sqlite_handle.h"

// What the operator is told when the archive cannot do its work: one sentence that names the
// file and the cause, and what that means for the test under way.
namespace archive {

// The cause in words: 磁盘已满, 没有写入权限, ... `busyTimeoutMs` is how long a busy archive
// was waited for.
QString CauseText(const SqlError& error, const QString& path, int busyTimeoutMs);

// What the writer's failure means for the running test.
QString WriterConsequence();
// The same for an archive this program can never use (a newer program's, no WAL journal):
// nothing is tried again and nothing is kept for it.
QString PermanentConsequence();
// The archive takes writes again after a failure: everything kept meanwhile is in it, but for
// `lostPolls` polls (the oldest of a long stall), which are named.
QString WritesRestoredText(const QString& path, qint64 lostPolls = 0);
// A test's ending could be written neither into the archive nor beside it.
QString EndingNotKeptText(const QString& path, const QString& test);
// Said before the program ends when some records could not be archived: `tests` names each
// test ("2026-12-9 08:05:09 开始的实验") with its count of unwritten records.
QString UnwrittenAtEndText(const QString& path, const QStringList& tests);
// The folder's file system gives the archive no shared memory for its WAL journal.
QString NoWalText(const QString& path);
// A damaged archive that another copy of the program still has open.
QString DamagedInUseText();

QString CannotOpenText(const QString& path, const QString& cause);
QString CannotWriteText(const QString& path, const QString& cause);
QString CannotReadText(const QString& path, const QString& cause);
QString TooNewText(const QString& path, int foundVersion);
QString RenamedAsideText(const QString& path, const QString& aside);

}  // namespace archive
