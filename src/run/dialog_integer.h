#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// An integer typed into a dialog field: decimal digits with an optional sign, blanks
// (spaces, tabs) allowed before and after. Empty text, any other character and a value
// outside the 32-bit signed range give nothing; a value is never wrapped.
std::optional<int32_t> ParseDialogInteger(const QString& text);
