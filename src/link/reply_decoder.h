#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class LinkView;

// Reply frames of the instrument: 0x04, twelve characters, 0x05.
inline constexpr char REPLY_START = 0x04;
inline constexpr char REPLY_END = 0x05;
inline constexpr std::size_t REPLY_LENGTH = 12;

// Takes in one block of bytes read from the port: joins the reply across blocks and, when
// exactly twelve characters are there and a command is running, writes the reading into
// the form, sets the event the command cycle waits on, and ends the test when the
// instrument says so. Called only by the receive thread, once per block, in order.
void DecodeReply(LinkView* view, const char* bytes, std::size_t count);

// The reply accumulator (tests).
const std::string& ReplyAccumulator();
void ResetReplyAccumulator();

// The trim rules of the readings, exposed for the tests.
std::string TrimZerosKeepingPoint(std::string text);  // "0000.35" -> "0.35"
std::string TrimZeros(std::string text);              // "000.50" -> ".50"
