#include "lab/chart_svg.h"

#include <algorithm>
#include <cmath>

namespace lab {
namespace {

constexpr int kWidth = 900, kHeight = 360;
constexpr int kLeft = 60, kRight = 110, kTop = 20, kBottom = 40;
constexpr const char* kColours[] = {"#d62728", "#1f77b4", "#2ca02c",
                                    "#ff7f0e", "#9467bd", "#8c564b"};

// A round step for about `ticks` divisions of `span`.
double NiceStep(double span, int ticks) {
    const double raw = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * power) return m * power;
    return 10 * power;
}

}  // namespace

QString ChartSvg(const CurrentSeries& series) {
    const double maxX = std::max(series.lastMinute, 1.0);
    const double maxY = std::max(series.highestCurrent * 1.1, 1.0);
    const double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
    auto x = [&](double minute) { return kLeft + minute / maxX * plotW; };
    auto y = [&](double mA) { return kTop + plotH - mA / maxY * plotH; };

    QString svg = QStringLiteral(
                      "<svg class=\"chart\" role=\"img\" aria-label=\"电流趋势图\" "
                      "xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %1 %2\">"
                      "<rect x=\"%3\" y=\"%4\" width=\"%5\" height=\"%6\" fill=\"#fff\" "
                      "stroke=\"#888\"/>")
                      .arg(kWidth)
                      .arg(kHeight)
                      .arg(kLeft)
                      .arg(kTop)
                      .arg(plotW)
                      .arg(plotH);
    const double stepX = NiceStep(maxX, 8), stepY = NiceStep(maxY, 6);
    for (double m = 0; m <= maxX + 1e-9; m += stepX)
        svg += QStringLiteral(
                   "<line x1=\"%1\" y1=\"%2\" x2=\"%1\" y2=\"%3\" stroke=\"#e3e3e3\"/>"
                   "<text x=\"%1\" y=\"%4\" font-size=\"12\" text-anchor=\"middle\">%5</text>")
                   .arg(x(m), 0, 'f', 1)
                   .arg(kTop)
                   .arg(kTop + plotH)
                   .arg(kTop + plotH + 16)
                   .arg(m);
    for (double v = 0; v <= maxY + 1e-9; v += stepY)
        svg += QStringLiteral(
                   "<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\" stroke=\"#e3e3e3\"/>"
                   "<text x=\"%4\" y=\"%5\" font-size=\"12\" text-anchor=\"end\">%6</text>")
                   .arg(kLeft)
                   .arg(y(v), 0, 'f', 1)
                   .arg(kLeft + plotW)
                   .arg(kLeft - 6)
                   .arg(y(v) + 4, 0, 'f', 1)
                   .arg(v);
    svg += QStringLiteral(
               "<text x=\"%1\" y=\"%2\" font-size=\"13\" text-anchor=\"middle\">时间(min)</text>"
               "<text x=\"14\" y=\"%3\" font-size=\"13\" text-anchor=\"middle\" "
               "transform=\"rotate(-90 14 %3)\">电流(mA)</text>")
               .arg(kLeft + plotW / 2)
               .arg(kHeight - 6)
               .arg(kTop + plotH / 2);
    int legend = 0;
    for (int ch = 0; ch < archive::kChannels; ++ch) {
        const std::vector<QPointF>& points = series.channels[ch];
        if (points.empty()) continue;
        QString path;
        path.reserve(qsizetype(points.size()) * 16);
        for (const QPointF& p : points)
            path += QStringLiteral("%1,%2 ").arg(x(p.x()), 0, 'f', 1).arg(y(p.y()), 0, 'f', 1);
        svg += QStringLiteral(
                   "<polyline fill=\"none\" stroke=\"%1\" stroke-width=\"1.5\" points=\"%2\"/>")
                   .arg(QLatin1String(kColours[ch]), path.trimmed());
        const int ly = kTop + 10 + legend++ * 20;
        svg +=
            QStringLiteral(
                "<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\" stroke=\"%4\" stroke-width=\"3\"/>"
                "<text x=\"%5\" y=\"%6\" font-size=\"13\">通道%7</text>")
                .arg(kLeft + plotW + 12)
                .arg(ly)
                .arg(kLeft + plotW + 36)
                .arg(QLatin1String(kColours[ch]))
                .arg(kLeft + plotW + 42)
                .arg(ly + 4)
                .arg(ch + 1);
    }
    return svg + QStringLiteral("</svg>");
}

}  // namespace lab
