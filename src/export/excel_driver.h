#pragma once

#include <QString>
#include <memory>

// Drives a spreadsheet program to fill a workbook made from a template and save it as an
// .xls file. Every operation reports success; a failed one leaves its reason in
// lastError(). No operation lets an exception out.
class ExcelDriver {
  public:
    virtual ~ExcelDriver() = default;

    // Starts the spreadsheet program (hidden).
    virtual bool start() = 0;
    // Makes a new workbook from the template file at `path`.
    virtual bool openTemplate(const QString& path) = 0;
    // Makes the sheet called `name` the one that the following cell writes go to.
    virtual bool selectSheet(const QString& name) = 0;
    // Writes `text` into the cell: as a number when it is a plain decimal number ("20",
    // "146.37"), as a spreadsheet stores such a text typed into it, otherwise kept as text;
    // row and column count from 1 (column 1 = A).
    // A driver may collect writes and send them on with its next operation of another kind;
    // a write the spreadsheet refuses then makes that operation fail.
    virtual bool setCell(int row, int column, const QString& text) = 0;
    // Sets every column of the selected sheet to `width` characters of the standard font.
    virtual bool setColumnWidth(int width) = 0;
    // Stores the workbook at `path` as an .xls file, replacing a file already there.
    virtual bool saveAs(const QString& path) = 0;
    // Closes the workbook and ends the spreadsheet program. Safe to call at any point, also
    // after a failed start, and more than once.
    virtual bool end() = 0;

    // Why the last operation failed, in Chinese; empty after a success.
    virtual QString lastError() const = 0;
};

// The driver of this build: the office's spreadsheet over its UNO interface, or, in a build
// without the office, a driver whose start always fails.
std::unique_ptr<ExcelDriver> CreateExcelDriver();
