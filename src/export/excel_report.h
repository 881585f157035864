#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "export/excel_driver.h"
#include "export/report_plan.h"

class Testclass;

// The Excel test report: the workbook made from the template "模板.xls" in the program's
// folder, filled by a spreadsheet program through an ExcelDriver. Testclass::OnSaveExcel()
// asks for the file and runs it.

inline const QString kReportTemplateName = QStringLiteral("模板.xls");

// The test state the report is made from: the parameters, the form's fields and the
// history lists of `form`. GUI thread.
ReportSnapshot TakeReportSnapshot(const Testclass& form);

// Fills the template at `templatePath` with `plan` and saves the workbook at `targetPath`.
// The workbook is stored under a temporary name in the target's folder and renamed over the
// target only when it is complete, so a failure leaves any earlier file as it was. Returns
// an empty text on success, otherwise the message for the operator.
QString RunReport(ExcelDriver& driver, const QString& templatePath,
                  const std::vector<ReportStep>& plan, const QString& targetPath);

// The drivers the report uses; tests put a recording driver in. Null restores the real one.
using ExcelDriverFactory = std::function<std::unique_ptr<ExcelDriver>()>;
void SetExcelDriverFactory(ExcelDriverFactory factory);

// The start of the spreadsheet program failed.
inline const QString kExcelStartFailed = QStringLiteral("创建Excel服务失败!");
inline const QString kTemplateMissing = QStringLiteral("没有找到模板文件");
