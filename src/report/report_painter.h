#pragma once

class QPagedPaintDevice;
struct ReportContent;

// The test report's two A4 pages, painted on a PDF writer or a printer alike: page 1 the
// title, the test's particulars, the table of channels, the group values and the chart of the
// currents; page 2 what happened during the test, the highest temperature, how a group value
// is taken, and the lines for the signatures of 试验, 审核 and 批准. Each page is numbered.
// The device is set to A4 portrait with the origin at the paper's corner. False when the
// device cannot be painted on (a printer that cannot be opened).
bool PaintTestReport(QPagedPaintDevice& device, const ReportContent& content);

constexpr int kReportPages = 2;
