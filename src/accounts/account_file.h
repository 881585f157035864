#pragma once

#include <QList>
#include <QString>
#include <optional>

#include "accounts/account_records.h"

class QWidget;

// The account file "data.bk" in the program's folder. Every operation opens the file,
// works and closes it again. Each one that can fail shows its own message (owned by
// `owner`) and returns false or nothing; nothing is left half-written.
namespace AccountFile {

// The file's full path: the program's folder plus "data.bk".
QString path();

// Creates the default file ("admin" / "579") when no file exists.
bool ensure(QWidget* owner);

// Every record in file order.
std::optional<QList<AccountRecord>> read(QWidget* owner);

// Appends the record (name, password). A text GBK cannot hold, or one with a line break,
// is refused before anything is written.
bool append(QWidget* owner, const QString& name, const QString& password);

// Rewrites the file without any record whose name value is `name` (GBK bytes). The new
// content goes to a temporary file in the same folder that then replaces the old one.
bool remove(QWidget* owner, const QByteArray& name);

}  // namespace AccountFile
