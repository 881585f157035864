#pragma once

#include <QDate>
#include <QString>

// A date as the program writes it everywhere: "%d-%d-%d" of year, month and day, without
// leading zeros (2010-5-7).
inline QString DateText(const QDate& date) {
    return QStringLiteral("%1-%2-%3").arg(date.year()).arg(date.month()).arg(date.day());
}
