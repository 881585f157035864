#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTableWidget>

#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "monitor/trend_chart.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"
#include "state/test_state.h"

namespace {

const QRgb kTrendRed = qRgb(250, 0, 0);

class TrendChartForm : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTestStateForTests();
        UseNoPort();
        g_nRecordInterval = 5;
        form.OnInitialUpdate();
        form.resize(form.minimumSize());
        form.setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信正常"));
    }

    // Takes one record with channel 1 reading `ch1` mA and channel 2 reading `ch2` mA.
    void record(int ch1, int ch2 = 0) {
        form.setChannelCellOnGui(0, ChannelColumn::Current, QString("%1.50(mA)").arg(ch1));
        form.setChannelCellOnGui(1, ChannelColumn::Current, QString("%1.00(mA)").arg(ch2));
        form.OnRecordSample();
        if (form.isVisible()) PumpFor(10);  // painted before the next record, as on a bench
    }
    void showForm() {
        form.show();
        PumpFor(30);
    }
    // The chart frame as the form draws it completely, and as it stands on the screen.
    QImage fullDrawing() { return form.grab(form.chartFrameRect()).toImage(); }
    QImage onScreen() {
        PumpFor(30);
        const QRect frame = form.chartFrameRect();
        return QGuiApplication::primaryScreen()
            ->grabWindow(form.winId(), frame.x(), frame.y(), frame.width(), frame.height())
            .toImage();
    }
    static int trendPixels(const QImage& image) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) == kTrendRed) ++n;
        return n;
    }
    static bool trendNear(const QImage& image, int x, int y) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (image.pixel(x + dx, y + dy) == kTrendRed) return true;
        return false;
    }
    static bool same(const QImage& a, const QImage& b) {
        return a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
    }

    ScriptedMessageBoxes boxes;
    Testclass form;
};

TEST_F(TrendChartForm, TheFirstSegmentAppearsAtTheSecondRecord) {
    showForm();
    record(100);
    QImage chart = onScreen();
    EXPECT_EQ(trendPixels(chart), 0);
    EXPECT_TRUE(same(chart, fullDrawing()));
    EXPECT_EQ(chart.pixel(400, 100), qRgb(255, 255, 255));  // white inside the frame

    record(200);  // (60, 197) to (70, 147)
    chart = onScreen();
    EXPECT_GT(trendPixels(chart), 0);
    EXPECT_TRUE(trendNear(chart, 65, 172));
    EXPECT_TRUE(same(chart, fullDrawing()));
}

TEST_F(TrendChartForm, TheScreenMatchesARepaintThroughZigzagsAndClamps) {
    g_nRecordInterval = 1;  // sharp turns: 2 pixels a record
    showForm();
    const int currents[] = {0, 499, 0, 460, 20, 600, 0, 445, 444, 120, 498, 1, 300, 301, 0};
    for (int mA : currents) {
        record(mA);
        ASSERT_TRUE(same(onScreen(), fullDrawing())) << "after " << mA << " mA";
    }
}

TEST_F(TrendChartForm, ShowsTheSelectedChannel) {
    for (int i = 0; i < 4; ++i) record(100, 400);  // channel 1 at y 197, channel 2 at y 47
    QImage chart = fullDrawing();
    EXPECT_TRUE(trendNear(chart, 75, 197));
    EXPECT_FALSE(trendNear(chart, 75, 47));

    form.onChannelTableItemChanged(1);
    chart = fullDrawing();
    EXPECT_TRUE(trendNear(chart, 75, 47));
    EXPECT_FALSE(trendNear(chart, 75, 197));
    EXPECT_EQ(form.trendChartData().title, ScreenChartTitle(2));
}

}  // namespace
