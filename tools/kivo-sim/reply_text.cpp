#include "reply_text.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr std::size_t kValueLength = 7;

}  // namespace

std::string FormatReading(double value) {
    if (!(value > 0.0)) value = 0.0;  // also catches NaN
    char buf[64];
    for (int decimals = 2; decimals >= 0; --decimals) {
        const int n = std::snprintf(buf, sizeof buf, "%0*.*f", static_cast<int>(kValueLength),
                                    decimals, value);
        if (n == static_cast<int>(kValueLength)) return buf;
    }
    return std::string(kValueLength, '9');
}

std::string FormatCount(std::uint32_t count) {
    if (count > 9999999u) count = 9999999u;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%07u", static_cast<unsigned>(count));
    return buf;
}

std::string ReplyText(int row, std::string_view code, std::string_view value) {
    char rowText[8];
    std::snprintf(rowText, sizeof rowText, "%02d", row < 0 ? 0 : row % 100);
    std::string text = rowText;
    text += code;
    text += ' ';
    text += value;
    return text;
}

std::string ReplyFrame(std::string_view text) {
    std::string frame(1, kReplyStart);
    frame += text;
    frame += kReplyEnd;
    return frame;
}
