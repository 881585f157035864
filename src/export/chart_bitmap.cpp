#include "export/chart_bitmap.h"

#include <QImage>
#include <QPainter>
#include <algorithm>

#include "export/dib_file.h"
#include "monitor/trend_chart.h"

QImage RenderChartBitmap(const ChartExportSnapshot& s, int channel) {
    QImage image(s.size, QImage::Format_RGB32);
    image.fill(Qt::white);
    const int slot = channel - 1;
    TrendChartData data;
    data.title = ExportChartTitle(channel);
    data.recordInterval = s.recordInterval;
    data.gridShift = s.gridShift;
    data.drawCurve = s.lastRecord >= 1 && s.channelOff[slot] == 0 && s.currents[slot].has_value();
    if (data.drawCurve) data.currents = *s.currents[slot];
    QPainter painter(&image);
    DrawTrendChart(painter, data);
    painter.end();
    return image;
}

QString ChartBitmapStem(const QString& chosenPath) {
    return chosenPath.left(std::max<qsizetype>(0, chosenPath.size() - 4));
}

QString ChartBitmapPath(const QString& stem, int channel) {
    return stem + QStringLiteral("通道") + QString::number(channel) + QStringLiteral(".bmp");
}
