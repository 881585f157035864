#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "export/excel_driver.h"
#include "export/report_plan.h"

// The Excel test report: the workbook made from the template "模板.xls" in the program's
// folder, filled by a spreadsheet program through an ExcelDriver.

inline const QString kReportTemplateName = QStringLiteral("模板.xls");

// The template in the program's folder.
QString ReportTemplatePath();

// Whether the report can go to `targetPath`: the message for the operator when the template
// is missing (kTemplateMissing alone) or the target is the template itself; empty when it can.
QString CheckReportTarget(const QString& templatePath, const QString& targetPath);

// The report of `snapshot` from the template, through a driver of this build, saved at
// `targetPath`. Returns an empty text on success, otherwise the message for the operator.
QString WriteReport(const ReportSnapshot& snapshot, const QString& templatePath,
                    const QString& targetPath);

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
