#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

#include "archive/archive_rows.h"

// A test's full-resolution data for analysis: one CSV row per channel poll, in the order the
// polls were taken, as UTF-8 with a byte-order mark (so that a spreadsheet reads the Chinese
// headers) and CR LF line ends. The columns: the poll's local time ("2026-12-08 12:37:09"),
// the instrument's minutes, voltage, temperature, each channel's current (mA) and charge (C)
// as plain numbers, and the number of the record taken from that poll. A record comes from
// the last poll at or before its instant; a text that is not a number is left empty.
QByteArray BuildPollCsv(const std::vector<archive::PollRow>& polls,
                        const std::vector<archive::RecordRow>& records);

// The number in a reading as the program shows it ("12.50(mA)", "1234.5(C)", "60.0",
// "0030"): the text before its unit, when that is a plain decimal number; empty otherwise.
QString ReadingNumber(const QString& text);
