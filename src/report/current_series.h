#pragma once

#include <QPointF>
#include <array>
#include <vector>

#include "archive/archive_rows.h"

// The current of each channel over a test for the report's chart: the two-second polls, and
// the records where there are no polls (a test archived before polls were kept, or a gap
// while the instrument did not answer). x is minutes since the test's start, y milliamperes.
struct CurrentSeries {
    std::array<std::vector<QPointF>, archive::kChannels> channels;
    double lastMinute = 0;
    double highestCurrent = 0;
};

// The points of each channel in use, thinned to at most `columns` columns of the chart (the
// least and the greatest value of each column kept, so no peak is lost).
CurrentSeries CurrentSeriesOf(const archive::ArchivedTest& test,
                              const std::vector<archive::PollRow>& polls, int columns);
