#pragma once

#include <QString>

#include "archive/archive_rows.h"

// How the archive's rows map onto the program's structures, for every reader of the file.
namespace archive {

class Statement;

// The header of a test in the test table, in the order TestHeaderAt reads them; how many.
extern const char* const kTestHeaderColumns;
constexpr int kTestHeaderColumnCount = 31;
// A record's and a poll's columns, in the order RecordAt and PollAt read them.
extern const char* const kRecordRowColumns;
extern const char* const kPollRowColumns;

// The header from a row whose columns from `first` on are kTestHeaderColumns.
TestHeader TestHeaderAt(const Statement& row, int first = 0);
// The record or poll from a row whose columns from `first` on are kRecordRowColumns or
// kPollRowColumns.
RecordRow RecordAt(const Statement& row, int first = 0);
PollRow PollAt(const Statement& row, int first = 0);

}  // namespace archive
