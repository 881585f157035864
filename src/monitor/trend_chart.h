#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

class QPainter;

// The current trend chart of one channel, drawn by one routine on any painter: the test
// form's chart frame on screen and the chart bitmaps of the export. Coordinates are
// pixels from the top-left corner of the chart frame.
struct TrendChartData {
    QString title;           // the title line, as the caller wants it
    QStringList currents;    // current texts of the records 0 ... g_nLastRecord
    bool drawCurve = false;  // two records or more, channel in use
    int recordInterval = 5;
    int gridShift = 0;
};

// The whole chart: axes, frame, scales, title, vertical caption, grid and, when
// data.drawCurve is set, the trend through every record. The caller fills the background
// white first (the screen's frame rectangle, the export's surface).
void DrawTrendChart(QPainter& painter, const TrendChartData& data);

// "通道 " + n + " 电流趋势图   时间(min)" (screen) and "通道" + n + "电流趋势图   时间(min)"
// (export).
QString ScreenChartTitle(int channel);
QString ExportChartTitle(int channel);

// Mapping of record `index` with current text `text` to the chart.
int TrendX(int index, int recordInterval);
int TrendY(const QString& text);
// The start point of the newest segment is clamped from 440 mA on instead of 500 mA.
int TrendSegmentStartY(const QString& text);
// The leading integer of a current text in mA, as an unsigned number.
unsigned CurrentMilliamperes(const QString& text);
