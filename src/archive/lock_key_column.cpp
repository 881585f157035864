#include "archive/lock_key_column.h"

namespace archive {
namespace {

constexpr QChar kMarkSeparator = QLatin1Char('\n');

}  // namespace

QString LockKeyColumn(const QString& key, const QString& mark) {
    return mark.isEmpty() ? key : key + kMarkSeparator + mark;
}

LockKeyParts SplitLockKeyColumn(const QString& column) {
    const qsizetype separator = column.indexOf(kMarkSeparator);
    if (separator < 0) return {column, {}};
    return {column.left(separator), column.mid(separator + 1)};
}

}  // namespace archive
