#include "monitor/trend_chart.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

namespace {

const QRgb kTrendRed = qRgb(250, 0, 0);
const QRgb kGridGreen = qRgb(0, 150, 0);

QImage render(const TrendChartData& data) {
    QImage image(841, 376, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    DrawTrendChart(painter, data);
    painter.end();
    return image;
}

TrendChartData curve(const QStringList& currents, int interval = 5) {
    TrendChartData data;
    data.title = ExportChartTitle(1);
    data.currents = currents;
    data.drawCurve = true;
    data.recordInterval = interval;
    return data;
}

bool is(const QImage& image, int x, int y, QRgb colour) {
    return image.rect().contains(x, y) && (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
}

// A width-2 line at row y covers y and the row above it.
bool trendRowAt(const QImage& image, int x, int y) {
    return is(image, x, y, kTrendRed) || is(image, x, y - 1, kTrendRed);
}

int countColour(const QImage& image, QRgb colour, QRect area = {}) {
    if (area.isNull()) area = image.rect();
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += is(image, x, y, colour);
    return n;
}

bool isDark(QRgb c) { return qRed(c) < 128 && qGreen(c) < 128 && qBlue(c) < 128; }

int countDark(const QImage& image, const QRect& area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += isDark(image.pixel(x, y));
    return n;
}

TEST(TrendMapping, CurrentTextsToRows) {
    EXPECT_EQ(TrendY(QStringLiteral("0(mA)")), 247);
    EXPECT_EQ(TrendY(QString()), 247);
    EXPECT_EQ(TrendY(QStringLiteral("(mA)")), 247);
    EXPECT_EQ(TrendY(QStringLiteral("-")), 247);
    EXPECT_EQ(TrendY(QStringLiteral("12.9(mA)")), 241);  // the fraction is dropped
    EXPECT_EQ(TrendY(QStringLiteral("13(mA)")), 241);    // 2 mA a pixel, rounded down
    EXPECT_EQ(TrendY(QStringLiteral("420(mA)")), 37);
    EXPECT_EQ(TrendY(QStringLiteral("499(mA)")), -2);  // above the plot box, not clamped
    EXPECT_EQ(TrendY(QStringLiteral("500(mA)")), 27);
    EXPECT_EQ(TrendY(QStringLiteral("123456789012(mA)")), 27);
    EXPECT_EQ(TrendY(QStringLiteral("-3(mA)")), 27);  // negative counts as very large
    EXPECT_EQ(TrendY(QStringLiteral("-99999999999")), 27);
    EXPECT_EQ(CurrentMilliamperes(QStringLiteral("-1")), 4294967295u);
    EXPECT_EQ(CurrentMilliamperes(QStringLiteral("007.50(mA)")), 7u);

    EXPECT_EQ(TrendSegmentStartY(QStringLiteral("439(mA)")), 28);
    EXPECT_EQ(TrendSegmentStartY(QStringLiteral("440(mA)")), 27);
    EXPECT_EQ(TrendSegmentStartY(QStringLiteral("300(mA)")), TrendY(QStringLiteral("300")));

    EXPECT_EQ(TrendX(0, 5), 60);
    EXPECT_EQ(TrendX(72, 5), 780);
    EXPECT_EQ(TrendX(3, 10), 120);
}

TEST(TrendMapping, Titles) {
    EXPECT_EQ(ScreenChartTitle(3), QStringLiteral("通道 3 电流趋势图   时间(min)"));
    EXPECT_EQ(ExportChartTitle(3), QStringLiteral("通道3电流趋势图   时间(min)"));
}

TEST(TrendChartDrawing, LevelsOfTheCurve) {
    // Pairs of equal readings give flat pieces whose row can be checked exactly.
    const QImage image = render(
        curve({"0(mA)", "", "420(mA)", "420.9(mA)", "500(mA)", "1200(mA)", "-3(mA)", "-3(mA)"}));
    EXPECT_TRUE(trendRowAt(image, 65, 247));  // records 0 and 1
    EXPECT_TRUE(trendRowAt(image, 85, 37));   // records 2 and 3
    EXPECT_TRUE(trendRowAt(image, 105, 27));  // 500 mA and more
    EXPECT_TRUE(trendRowAt(image, 125, 27));  // a negative value
    for (int x : {65, 85, 105, 125}) {
        const int y = x == 65 ? 247 : x == 85 ? 37 : 27;
        EXPECT_FALSE(is(image, x, y + 2, kTrendRed)) << x;
        EXPECT_FALSE(is(image, x, y - 3, kTrendRed)) << x;
    }
}

TEST(TrendChartDrawing, SegmentJoinsTheTwoPoints) {
    const QImage image = render(curve({"0(mA)", "420(mA)"}));
    // From (60, 247) to (70, 37): the middle lies near (65, 142).
    int nearMiddle = countColour(image, kTrendRed, QRect(63, 140, 5, 5));
    EXPECT_GT(nearMiddle, 0);
    // Nothing of the trend beyond the second point.
    EXPECT_EQ(countColour(image, kTrendRed, QRect(73, 0, 768, 376)), 0);
}

TEST(TrendChartDrawing, NoCurveUnlessAsked) {
    TrendChartData data = curve({"100(mA)", "200(mA)", "300(mA)"});
    data.drawCurve = false;
    EXPECT_EQ(countColour(render(data), kTrendRed), 0);
    data.drawCurve = true;
    EXPECT_GT(countColour(render(data), kTrendRed), 0);
    // A single record has no segment to draw.
    EXPECT_EQ(countColour(render(curve({"100(mA)"})), kTrendRed), 0);
}

TEST(TrendChartDrawing, RecordOfMinute360EndsAtTheLastTimeLabel) {
    QStringList currents;
    for (int i = 0; i <= 72; ++i) currents << QStringLiteral("100(mA)");
    const QImage image = render(curve(currents));
    int rightmost = -1;
    for (int x = 0; x < image.width(); ++x)
        if (is(image, x, 197, kTrendRed) || is(image, x, 196, kTrendRed)) rightmost = x;
    EXPECT_GE(rightmost, 779);
    EXPECT_LE(rightmost, 780);
}

TEST(TrendChartDrawing, AxesFrameGridAndTexts) {
    TrendChartData data;
    data.title = ScreenChartTitle(2);
    const QImage image = render(data);
    const QRgb black = qRgb(0, 0, 0);
    // Current and time axes, two pixels wide; the frame's top and right edges.
    EXPECT_TRUE(is(image, 60, 100, black) || is(image, 59, 100, black));
    EXPECT_TRUE(is(image, 300, 250, black) || is(image, 300, 249, black));
    EXPECT_TRUE(is(image, 400, 20, black));
    EXPECT_TRUE(is(image, 800, 100, black));
    EXPECT_TRUE(is(image, 57, 157, black));   // a tick of the current scale
    EXPECT_TRUE(is(image, 420, 253, black));  // a tick of the time scale

    // Dotted green grid: eight rows, vertical lines at 120 ... 780 and none further.
    for (int y = 247; y >= 37; y -= 30)
        EXPECT_GT(countColour(image, kGridGreen, {61, y, 739, 1}), 100) << y;
    for (int x = 120; x <= 780; x += 60)
        EXPECT_GT(countColour(image, kGridGreen, {x, 21, 1, 228}), 50) << x;
    EXPECT_EQ(countColour(image, kGridGreen, {801, 0, 40, 376}), 0);
    EXPECT_EQ(countColour(image, kGridGreen, {781, 220, 19, 25}), 0);  // between two rows
    EXPECT_EQ(countColour(image, kGridGreen, {0, 251, 841, 125}), 0);

    // Red scale labels left of the current axis and below the time axis.
    auto reddish = [&](const QRect& area) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) {
                const QRgb c = image.pixel(x, y);
                n += qRed(c) > 200 && qGreen(c) < 120 && qBlue(c) < 120;
            }
        return n;
    };
    EXPECT_GT(reddish({36, 37, 20, 12}), 0);    // "420"
    EXPECT_GT(reddish({780, 255, 20, 12}), 0);  // "360"
    EXPECT_EQ(reddish({0, 0, 841, 36}), 0);

    // The title is black text on its line; the caption runs upwards from (15, 180).
    EXPECT_GT(countDark(image, {280, 270, 260, 16}), 50);
    EXPECT_GT(countDark(image, {15, 110, 16, 70}), 30);
    EXPECT_EQ(countDark(image, {0, 182, 34, 60}), 0);
}

}  // namespace
