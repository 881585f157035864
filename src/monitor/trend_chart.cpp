#include "monitor/trend_chart.h"

void DrawTrendChart(QPainter&, const TrendChartData&) {}
QString ScreenChartTitle(int channel) {
    return QStringLiteral("通道 ") + QString::number(channel) +
           QStringLiteral(" 电流趋势图   时间(min)");
}
QString ExportChartTitle(int channel) {
    return QStringLiteral("通道") + QString::number(channel) +
           QStringLiteral("电流趋势图   时间(min)");
}
int TrendX(int index, int recordInterval) { return 60 + 2 * index * recordInterval; }
unsigned CurrentMilliamperes(const QString&) { return 0; }
int TrendY(const QString&) { return 247; }
