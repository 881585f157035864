#pragma once

#include <QString>
#include <QStringList>
#include <vector>

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
// What one test still had waiting for the archive when the program ended.
struct UnwrittenTest {
    QString uid;
    QString test;             // "2026-12-9 08:05:09 开始的实验"
    int records = 0;          // only in the exported files now
    int polls = 0;            // lost
    int states = 0;           // state changes, left beside the archive for the next program ...
    bool endingLost = false;  // ... unless they could be kept nowhere: the next start may ask
                              // about the test as unfinished
};
// The audit events still waiting when the program ended.
struct UnwrittenEvents {
    int kept = 0;  // left beside the archive for the next program
    int lost = 0;  // could be kept nowhere
};
// Said before the program ends when anything could not be archived: each test with every kind
// it still had waiting, and the audit events; what becomes of each.
QString UnwrittenAtEndText(const QString& path, const std::vector<UnwrittenTest>& tests,
                           const UnwrittenEvents& events);
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
