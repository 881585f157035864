#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

class QImage;
// The chart export writes one bitmap per channel 1-9, each drawn as the test form draws
// its chart but with the export title and that channel's own curve.
inline constexpr int CHART_EXPORT_CHANNELS = 9;

// Bits a pixel of the written bitmaps. The chart has only a few flat colours, so 24 bits
// hold it exactly on any display; following the display's depth would make the files
// differ from machine to machine (and 32-bit files are read inconsistently by viewers).
inline constexpr int CHART_BITMAP_BITS = 24;

// What the bitmaps are drawn from, copied out of the test state and the form.
struct ChartExportSnapshot {
    QSize size;  // the chart frame's size on screen
    int32_t recordInterval = 5;
    int gridShift = 0;
    uint32_t lastRecord = 0;
    std::array<uint8_t, CHART_EXPORT_CHANNELS> channelOff{};
    // Current texts of rows 0 ... lastRecord of each channel; nothing for a channel that
    // has no history list.
    std::array<std::optional<QStringList>, CHART_EXPORT_CHANNELS> currents;
};

// The picture of channel `channel` (1-9): white, the size of the frame, the whole chart.
QImage RenderChartBitmap(const ChartExportSnapshot& snapshot, int channel);

// The chosen path less its last four characters (the ".BMP" the dialog gives it).
QString ChartBitmapStem(const QString& chosenPath);
// stem + "通道" + channel + ".bmp".
QString ChartBitmapPath(const QString& stem, int channel);
