#include "run/dialog_integer.h"

#include <limits>

std::optional<int32_t> ParseDialogInteger(const QString& text) {
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    qsizetype i = 0, end = text.size();
    while (i < end && blank(text[i])) ++i;
    while (end > i && blank(text[end - 1])) --end;

    bool negative = false;
    if (i < end && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    if (i == end) return std::nullopt;

    int64_t magnitude = 0;
    const int64_t limit = negative ? -int64_t{std::numeric_limits<int32_t>::min()}
                                   : int64_t{std::numeric_limits<int32_t>::max()};
    for (; i < end; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return std::nullopt;
        magnitude = magnitude * 10 + (c - u'0');
        if (magnitude > limit) return std::nullopt;
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}
