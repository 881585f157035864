#pragma once

#include <QString>
#include <optional>

// The number a report cell's text stands for when it is written as a plain decimal number:
// an optional sign, digits, and optionally a point followed by more digits ("20", "-3",
// "146.37", "0012"). Anything else ("12.50(mA)", "2026-12-8", "1e5", " 5", ".5", "5.") is
// no number and stays text, as a spreadsheet given the text would keep it.
std::optional<double> PlainDecimalNumber(const QString& text);
