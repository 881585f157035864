#include "link/reply_frame.h"

#include "link/reply_decoder.h"

std::size_t MissingReplyBytes(const char* block, std::size_t count) {
    constexpr std::size_t kFrameBytes = REPLY_LENGTH + 2;
    if (count == 0 || count >= kFrameBytes || block[0] != REPLY_START) return 0;
    std::size_t characters = 0;
    for (std::size_t i = 1; i < count; ++i) {
        if (block[i] == REPLY_END) return 0;
        if (block[i] != '\0') ++characters;  // a zero byte adds nothing to the reply text
    }
    return characters < REPLY_LENGTH ? kFrameBytes - count : 0;
}
