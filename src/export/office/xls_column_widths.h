#pragma once

#include <QString>
#include <map>

// Column widths of a saved .xls workbook (BIFF8 inside a compound file), stated in
// characters of the workbook's standard font as the format counts them, whatever face a
// spreadsheet program substitutes for that font when it measures.
//
// Rewrites, in the file at `path`, the width of every column that each named sheet declares
// (its COLINFO records) to that sheet's number of characters (1 to 255). The file keeps its
// size and everything else in it. On failure `error` (when given) says why, in Chinese; the
// file is left as it was unless writing it back failed.
bool SetXlsColumnWidths(const QString& path, const std::map<QString, int>& charactersBySheet,
                        QString* error = nullptr);
