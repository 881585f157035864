#pragma once

#include <QStringView>
#include <optional>

// The number in a reading as the program shows it ("12.50(mA)", "24.5", "1234.5(C)"): a
// plain decimal number, blanks and one unit in parentheses after it allowed; nothing for any
// other text. The texts ReadingNumber accepts, read without a regular expression: a six-hour
// test's report reads some 80 000 of them.
std::optional<double> ReadingValue(QStringView text);
