#include "monitor/trend_chart.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPen>
#include <QPolygon>
#include <cstdint>
#include <limits>

#include "platform/song_font.h"

namespace {

// Plot geometry in pixels of the chart frame.
constexpr int kPlotLeft = 60;
constexpr int kPlotRight = 800;
constexpr int kPlotTop = 20;
constexpr int kTimeAxisY = 250;
constexpr int kZeroY = 247;  // 0 mA, three pixels above the time axis
constexpr int kClampY = 27;
constexpr unsigned kClampMilliamperes = 500;
constexpr unsigned kSegmentStartClampMilliamperes = 440;

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kLabelRed(255, 0, 0);
const QColor kGridGreen(0, 150, 0);
const QColor kTrendRed(250, 0, 0);

// Pens draw lines without their end pixel, as the chart's geometry is laid out for.
QPen chartPen(const QColor& colour, int width, Qt::PenStyle style = Qt::SolidLine) {
    QPen pen(colour, width, style, Qt::FlatCap, Qt::MiterJoin);
    return pen;
}

// Text anchored at its top-left corner, on an opaque white background.
void drawTextAt(QPainter& painter, int x, int y, const QString& text) {
    painter.drawText(QRect(x, y, 2000, 200), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, text);
}

int mappedY(const QString& text, unsigned clampFrom) {
    const unsigned v = CurrentMilliamperes(text);
    if (v >= clampFrom) return kClampY;
    return kZeroY - static_cast<int>(v / 2);
}

void drawAxesAndFrame(QPainter& painter) {
    painter.setPen(chartPen(kBlack, 2));
    painter.drawLine(kPlotLeft, kTimeAxisY, kPlotLeft, kPlotTop);
    painter.drawLine(kPlotLeft, kTimeAxisY, kPlotRight, kTimeAxisY);
    painter.setPen(chartPen(kBlack, 1));
    painter.drawLine(kPlotRight, kPlotTop, kPlotLeft, kPlotTop);
    painter.drawLine(kPlotRight, kPlotTop, kPlotRight, kTimeAxisY);
}

void drawScales(QPainter& painter) {
    const QPen framePen = chartPen(kBlack, 1);
    for (int k = 0; k <= 7; ++k) {
        const int y = kZeroY - 30 * k;
        painter.setPen(framePen);
        painter.drawLine(kPlotLeft, y, kPlotLeft - 5, y);
        const QString label = QString::number(60 * k);
        painter.setPen(kLabelRed);
        drawTextAt(painter, 40 - static_cast<int>(label.size()), y, label);
    }
    for (int m = 0; m <= 12; ++m) {
        const int x = kPlotLeft + 60 * m;
        if (m > 0) {
            painter.setPen(framePen);
            painter.drawLine(x, kTimeAxisY, x, kTimeAxisY + 5);
        }
        painter.setPen(kLabelRed);
        drawTextAt(painter, x, kTimeAxisY + 5, QString::number(30 * m));
    }
}

void drawCaptions(QPainter& painter, const QString& title) {
    painter.setPen(kBlack);
    painter.setFont(songFont(15));
    drawTextAt(painter, 280, 270, title);

    // The current caption runs upwards from its reference point: the text's top faces left.
    painter.save();
    painter.translate(15, 180);
    painter.rotate(-90);
    drawTextAt(painter, 0, 0, QStringLiteral("电流 (mA)"));
    painter.restore();
}

void drawGrid(QPainter& painter, int gridShift) {
    painter.setPen(chartPen(kGridGreen, 1, Qt::DotLine));
    for (int y = kZeroY; y >= 37; y -= 30) painter.drawLine(kPlotLeft, y, kPlotRight, y);
    for (int j = 12; j < 606; j += 6) {
        const int x = 10 * (j + gridShift);
        if (x > kPlotRight) break;
        painter.drawLine(x, kTimeAxisY, x, kPlotTop);
    }
}

void drawTrend(QPainter& painter, const TrendChartData& data) {
    if (!data.drawCurve || data.currents.size() < 2) return;
    QPolygon points;
    points.reserve(data.currents.size());
    for (int i = 0; i < data.currents.size(); ++i)
        points << QPoint(TrendX(i, data.recordInterval), TrendY(data.currents[i]));
    painter.setPen(chartPen(kTrendRed, 2));
    painter.drawPolyline(points);
}

}  // namespace

void DrawTrendChart(QPainter& painter, const TrendChartData& data) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setFont(songFont(12));
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(kWhite);

    drawAxesAndFrame(painter);
    drawScales(painter);
    drawCaptions(painter, data.title);
    drawGrid(painter, data.gridShift);
    drawTrend(painter, data);
    painter.restore();
}

QString ScreenChartTitle(int channel) {
    return QStringLiteral("通道 ") + QString::number(channel) +
           QStringLiteral(" 电流趋势图   时间(min)");
}

QString ExportChartTitle(int channel) {
    return QStringLiteral("通道") + QString::number(channel) +
           QStringLiteral("电流趋势图   时间(min)");
}

int TrendX(int index, int recordInterval) { return kPlotLeft + 2 * index * recordInterval; }

int TrendY(const QString& text) { return mappedY(text, kClampMilliamperes); }

int TrendSegmentStartY(const QString& text) {
    return mappedY(text, kSegmentStartClampMilliamperes);
}

unsigned CurrentMilliamperes(const QString& text) {
    // The integer the text begins with, read the way the C library reads one: leading
    // blanks, an optional sign, then digits. A negative value wraps to a large unsigned
    // number (2^31 and more), so it plots at the clamp level; too many digits saturate.
    int i = 0;
    const int n = static_cast<int>(text.size());
    while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t'))) ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    const uint64_t cap = negative ? (uint64_t{1} << 31) : std::numeric_limits<uint32_t>::max();
    uint64_t value = 0;
    for (; i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i].unicode() - u'0');
        if (value > cap) value = cap;
    }
    const auto magnitude = static_cast<uint32_t>(value);
    return negative ? 0u - magnitude : magnitude;
}
