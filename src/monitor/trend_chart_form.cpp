#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "monitor/trend_chart.h"

// The trend chart inside the form's chart frame. Every paint draws the whole chart of the
// shown channel; a new record only asks for the newest segment's rectangle to be painted
// again, so what is on the screen is always the full drawing.

namespace {

// Around a segment's end points: the 2-pixel trend pen's miter join at a sharp turn
// reaches 4 pixels past the point (miter limit 2 pen widths); a little more for rounding.
constexpr int kSegmentMargin = 6;

QRect segmentRect(QPoint from, QPoint to) {
    return QRect(from, to).normalized().adjusted(-kSegmentMargin, -kSegmentMargin, kSegmentMargin,
                                                 kSegmentMargin);
}

}  // namespace

TrendChartData Testclass::trendChartData() const {
    TrendChartData data;
    data.title = ScreenChartTitle(m_nCurChannel);
    data.recordInterval = g_nRecordInterval;
    data.gridShift = m_nGridShift;
    const int slot = m_nCurChannel - 1;
    const bool inUse = slot >= 0 && slot < CHANNELS_IN_USE && g_bChannelOff[slot] == 0;
    // Rows 0 ... g_nLastRecord; never past the list's last row.
    const int rows = historyRowCount(slot);
    const int last = static_cast<int>(std::min<uint32_t>(g_nLastRecord, rows > 0 ? rows - 1 : 0));
    data.drawCurve = inUse && last >= 1;
    if (data.drawCurve)
        for (int i = 0; i <= last; ++i)
            data.currents << historyCell(slot, i, HistoryColumn::Current);
    return data;
}

void Testclass::paintEvent(QPaintEvent* event) {
    const QRect frame = chartFrameRect();
    // The table's updates every two seconds repaint the form beneath it too; only a paint
    // that reaches the chart draws it.
    if (!event->region().intersects(frame)) return;
    QPainter painter(this);
    painter.fillRect(frame, Qt::white);
    painter.setClipRect(frame);
    painter.translate(frame.topLeft());
    DrawTrendChart(painter, trendChartData());
}

void Testclass::DrawTrendSegment(const QString& currentText) {
    const uint32_t last = g_nLastRecord;
    if (last == 0) return;
    const int slot = m_nCurChannel - 1;
    if (slot < 0 || slot >= CHANNELS_IN_USE) return;
    // The segment joins the previous record's point, mapped as every other point is, to
    // the new one. The previous current is g_strLastCurrent; the list's previous row holds
    // the same text, and the repaint draws from the list, so both are covered.
    const int previous = static_cast<int>(last - 1);
    const QPoint to(TrendX(static_cast<int>(last), g_nRecordInterval), TrendY(currentText));
    const int fromX = TrendX(previous, g_nRecordInterval);
    QRect dirty = segmentRect(QPoint(fromX, TrendY(g_strLastCurrent[slot])), to);
    dirty |=
        segmentRect(QPoint(fromX, TrendY(historyCell(slot, previous, HistoryColumn::Current))), to);
    const QRect frame = chartFrameRect();
    update(dirty.translated(frame.topLeft()) & frame);
}
