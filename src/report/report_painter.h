#pragma once

class QPagedPaintDevice;
struct ReportContent;

// The test report on A4 pages, painted on a PDF writer or a printer alike: the title, the
// test's particulars, the table of channels, the group values and the chart of the currents;
// then what happened during the test (every event, on as many pages as it takes), the highest
// temperature, the method and the grading table, and the lines for the signatures of 试验,
// 审核 and 批准. Texts too long for their cell wrap inside it. Every page carries the report
// number with its verification code (and, when the lab has a verify address, the QR code of
// that address in the top right corner with "扫码或访问 … 核验报告"), the mark of an
// unfinished test and "第 n 页 共 N 页". The device is set to A4
// portrait with the origin at the paper's corner. False when the device cannot be painted on
// (a printer that cannot be opened).
bool PaintTestReport(QPagedPaintDevice& device, const ReportContent& content);

// The pages the report takes.
int TestReportPageCount(const ReportContent& content);
