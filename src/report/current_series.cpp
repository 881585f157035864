#include "report/current_series.h"

#include <algorithm>
#include <cmath>

#include "report/reading_value.h"

namespace {

// A record stands in for the polls when none was taken this close to it.
constexpr qint64 kPollGapMs = 10'000;

struct Sample {
    qint64 atMs;
    const std::array<QString, archive::kChannels>* current;
};

bool CoveredByPolls(const std::vector<archive::PollRow>& polls, qint64 atMs) {
    const auto next =
        std::lower_bound(polls.begin(), polls.end(), atMs,
                         [](const archive::PollRow& poll, qint64 at) { return poll.atMs < at; });
    if (next != polls.end() && next->atMs - atMs <= kPollGapMs) return true;
    return next != polls.begin() && atMs - std::prev(next)->atMs <= kPollGapMs;
}

// "12.50(mA)" → 12.5; NaN for a text that is not a number.
double CurrentOf(const QString& text) { return ReadingValue(text).value_or(std::nan("")); }

}  // namespace

CurrentSeries CurrentSeriesOf(const archive::ArchivedTest& test,
                              const std::vector<archive::PollRow>& polls, int columns) {
    std::vector<Sample> samples;
    samples.reserve(polls.size() + test.records.size());
    for (const archive::PollRow& poll : polls) samples.push_back({poll.atMs, &poll.current});
    for (const archive::RecordRow& record : test.records)
        if (!CoveredByPolls(polls, record.atMs)) samples.push_back({record.atMs, &record.current});
    std::stable_sort(samples.begin(), samples.end(),
                     [](const Sample& a, const Sample& b) { return a.atMs < b.atMs; });

    CurrentSeries series;
    if (samples.empty()) return series;
    const qint64 start = test.header.startedAtMs > 0
                             ? std::min(test.header.startedAtMs, samples.front().atMs)
                             : samples.front().atMs;
    series.lastMinute = double(samples.back().atMs - start) / 60000.0;
    const double span = std::max(series.lastMinute, 1e-9);
    columns = std::max(columns, 1);

    for (int slot = 0; slot < archive::kChannels; ++slot) {
        if (test.header.channelOff[slot] != 0) continue;
        std::vector<QPointF>& points = series.channels[slot];
        // Per column, the first, least and greatest point in the order they came.
        int column = -1;
        QPointF low, high;
        auto flush = [&] {
            if (column < 0) return;
            if (low.x() <= high.x()) {
                points.push_back(low);
                if (high != low) points.push_back(high);
            } else {
                points.push_back(high);
                points.push_back(low);
            }
        };
        for (const Sample& s : samples) {
            const double y = CurrentOf((*s.current)[slot]);
            if (std::isnan(y)) continue;
            const double x = double(s.atMs - start) / 60000.0;
            const int c = std::min(columns - 1, int(x / span * columns));
            series.highestCurrent = std::max(series.highestCurrent, y);
            if (c != column) {
                flush();
                column = c;
                low = high = QPointF(x, y);
                continue;
            }
            if (y < low.y()) low = QPointF(x, y);
            if (y > high.y()) high = QPointF(x, y);
        }
        flush();
    }
    return series;
}
