#pragma once

#include <QString>

class QWidget;

// The test report (试验报告) of test `id` of the archive at `archivePath`, made from the archive
// alone: "导出报告PDF" asks where to save it and writes the PDF; "打印" shows the print dialog
// and prints it. A test without records has no report (the operator is told). True when the
// file was written or the report printed; a refusal or cancel is false, after a box that
// says why where there was a fault.
bool ExportTestReportPdf(QWidget* owner, const QString& archivePath, qint64 id);
bool PrintTestReportOf(QWidget* owner, const QString& archivePath, qint64 id);

// Why a test read from the lab server has no report here: the tooltip of its disabled
// 导出报告PDF and 打印, and the menu's answer.
QString ServerTestReportText();
