#pragma once

#include <QString>
#include <array>

#include "archive/archive_rows.h"

// How the archive's rows map onto the program's structures, for every reader of the file.
namespace archive {

class Statement;

// The header of a test in the test table, in the order TestHeaderAt reads them.
extern const char* const kTestHeaderColumns;
// Each channel's current, then each channel's charge, of a record or a poll.
extern const char* const kChannelColumns;

// The header from a row whose columns from `first` on are kTestHeaderColumns.
TestHeader TestHeaderAt(const Statement& row, int first = 0);
// The twelve channel texts that start at column `first`.
void ChannelsAt(const Statement& row, int first, std::array<QString, kChannels>& current,
                std::array<QString, kChannels>& charge);

}  // namespace archive
