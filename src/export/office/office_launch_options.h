#pragma once

#include <QString>
#include <memory>

#include "export/excel_driver.h"

// How the office process behind the spreadsheet driver is started and stopped.
struct OfficeLaunchOptions {
    // The office's start program; empty means "soffice" in the folder of the office runtime
    // this program is linked with.
    QString program;
    // How long the office may take to answer after it was started.
    int startTimeoutMs = 30000;
    // How long it may take to exit when told to; after that it is killed.
    int stopTimeoutMs = 10000;
};

// The driver with explicit launch options (CreateExcelDriver() uses the defaults).
std::unique_ptr<ExcelDriver> CreateExcelDriver(const OfficeLaunchOptions& options);
