#include "report/reading_value.h"

std::optional<double> ReadingValue(QStringView text) {
    text = text.trimmed();
    if (text.endsWith(u')')) {
        const qsizetype open = text.lastIndexOf(u'(');
        if (open < 0 || text.mid(open + 1, text.size() - open - 2).contains(u')')) return {};
        text = text.left(open).trimmed();
    }
    qsizetype i = 0;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
    int digits = 0, points = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= u'0' && c <= u'9')
            ++digits;
        else if (c == u'.' && points++ == 0)
            continue;
        else
            return {};
    }
    if (digits == 0) return {};
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}
