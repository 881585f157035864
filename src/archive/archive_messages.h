#pragma once

#include <QString>

#include "archive/sqlite_handle.h"

// What the operator is told when the archive cannot do its work: one sentence that names the
// file and the cause, and what that means for the test under way.
namespace archive {

// The cause in words: 磁盘已满, 没有写入权限, ... `busyTimeoutMs` is how long a busy archive
// was waited for.
QString CauseText(const SqlError& error, const QString& path, int busyTimeoutMs);

// What the writer's failure means for the running test.
QString WriterConsequence();

QString CannotOpenText(const QString& path, const QString& cause);
QString CannotWriteText(const QString& path, const QString& cause);
QString CannotReadText(const QString& path, const QString& cause);
QString TooNewText(const QString& path, int foundVersion);
QString RenamedAsideText(const QString& path, const QString& aside);

}  // namespace archive
