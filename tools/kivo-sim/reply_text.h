#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The instrument's reply: twelve characters between the bytes 0x04 and 0x05. Positions 1-2
// hold a row number, 3-4 the reply code, 5 a space and 6-12 the value.
inline constexpr char kReplyStart = 0x04;
inline constexpr char kReplyEnd = 0x05;
inline constexpr std::size_t kReplyTextLength = 12;

// A reading in seven characters, zero-padded, with two decimals when they fit, else one,
// else none ("0136.25", "12345.6", "1234567"); negative readings show as zero and readings
// too large for seven digits as "9999999".
std::string FormatReading(double value);

// A count in seven zero-padded digits ("0000123"), capped at 9999999.
std::string FormatCount(std::uint32_t count);

// Row 0 … 99, a two-character code and a seven-character value.
std::string ReplyText(int row, std::string_view code, std::string_view value);

std::string ReplyFrame(std::string_view text);
