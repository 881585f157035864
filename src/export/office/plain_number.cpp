#include "export/office/plain_number.h"

std::optional<double> PlainDecimalNumber(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) ++i;
    auto digits = [&] {
        const qsizetype from = i;
        while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) ++i;
        return i > from;
    };
    if (!digits()) return std::nullopt;
    if (i < n && text[i] == QLatin1Char('.')) {
        ++i;
        if (!digits()) return std::nullopt;
    }
    if (i != n) return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);  // the C locale's point, whatever the system's
    if (!ok) return std::nullopt;
    return value;
}
