#pragma once

#include <QSize>

#include "export/chart_bitmap.h"
#include "export/report_plan.h"
#include "export/text_data_file.h"

class Testclass;

// What the exports are made from, copied out of the test state and the test form at the
// moment of saving (GUI thread). The exports themselves never see the form.

TextDataSnapshot TakeTextDataSnapshot(const Testclass& form);
// `frameSize`: the size of the chart frame on screen when the operator asked.
ChartExportSnapshot TakeChartExportSnapshot(const Testclass& form, const QSize& frameSize);
// The parameters, the form's fields and its history lists.
ReportSnapshot TakeReportSnapshot(const Testclass& form);
