#pragma once

#include <QString>

// The records of each test handed to the archive's writer and not yet committed, counted by
// their numbers (a record handed again under its number is one record). Any thread.
namespace UnarchivedRecords {

void handed(const QString& uid, int number);
// The writer has committed record `number` of `uid`.
void committed(const QString& uid, int number);
int count(const QString& uid);
// The test is no longer the program's (its window went).
void forget(const QString& uid);

}  // namespace UnarchivedRecords
