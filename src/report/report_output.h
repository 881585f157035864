#pragma once

#include <QByteArray>

class QPrinter;
struct ReportContent;

// The test report as the bytes of a PDF file (A4, the Chinese face embedded); empty when it
// could not be made.
QByteArray TestReportPdf(const ReportContent& content);

// Prints the report on `printer` as the print dialog set it up; false when the printer could
// not be opened.
bool PrintTestReport(QPrinter& printer, const ReportContent& content);
