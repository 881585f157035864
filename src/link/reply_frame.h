#pragma once

#include <cstddef>

// How many bytes the reply frame begun by `block` still lacks on the wire, when waiting for
// them cannot change what the decoder makes of the block: the block begins a frame (0x04),
// holds no end byte and fewer than twelve characters, so the decoder would only store them.
// 0 when the block is to be handed over as it is.
//
// The receive thread uses it to take a frame in one piece instead of a byte at a time as a
// 9600-baud line delivers it: one wake-up and one decode per reply.
std::size_t MissingReplyBytes(const char* block, std::size_t count);
