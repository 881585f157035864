#pragma once

#include <QString>

#include "report/current_series.h"

// The current trend of a test as an inline SVG drawing: each channel in use as a line over
// minutes since the start, with its axes and a legend, the same series as the report's chart.
namespace lab {

QString ChartSvg(const CurrentSeries& series);

}  // namespace lab
