#include "export/chart_bitmap.h"

#include <QDate>
#include <QImage>
#include <QtEndian>

#include "export/dib_file.h"
#include "export_fixture.h"

namespace {

const QRgb kTrendRed = qRgb(250, 0, 0);

uint32_t u32(const QByteArray& b, int at) {
    return qFromLittleEndian<uint32_t>(reinterpret_cast<const uchar*>(b.constData()) + at);
}
uint16_t u16(const QByteArray& b, int at) {
    return qFromLittleEndian<uint16_t>(reinterpret_cast<const uchar*>(b.constData()) + at);
}

int trendPixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) == (kTrendRed & 0xFFFFFF);
    return n;
}

bool trendNear(const QImage& image, int x, int y) {
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            if ((image.pixel(x + dx, y + dy) & 0xFFFFFF) == (kTrendRed & 0xFFFFFF)) return true;
    return false;
}

void expectHeader(const QByteArray& file, int width, int height, int bits, int rowSize) {
    ASSERT_GE(file.size(), 54);
    EXPECT_EQ(file.left(2), "BM");
    EXPECT_EQ(u32(file, 2), static_cast<uint32_t>(file.size()));
    EXPECT_EQ(u32(file, 2), static_cast<uint32_t>(54 + rowSize * height));
    EXPECT_EQ(u32(file, 6), 0u);
    EXPECT_EQ(u32(file, 10), 54u);
    EXPECT_EQ(u32(file, 14), 40u);
    EXPECT_EQ(u32(file, 18), static_cast<uint32_t>(width));
    EXPECT_EQ(u32(file, 22), static_cast<uint32_t>(height));
    EXPECT_EQ(u16(file, 26), 1);
    EXPECT_EQ(u16(file, 28), bits);
    EXPECT_EQ(u32(file, 30), 0u);
    EXPECT_EQ(u32(file, 34), static_cast<uint32_t>(rowSize * height));
    for (int at = 38; at < 54; at += 4) EXPECT_EQ(u32(file, at), 0u) << at;
}

TEST(DibFile, HeadersAndPaddedRows) {
    // 823 pixels: 2469 bytes at 24 bits and 1646 at 16, neither a multiple of four.
    QImage wide(823, 3, QImage::Format_RGB32);
    wide.fill(Qt::white);
    expectHeader(BuildDibFile(wide, 24), 823, 3, 24, 2472);
    expectHeader(BuildDibFile(wide, 16), 823, 3, 16, 1648);
    expectHeader(BuildDibFile(wide, 32), 823, 3, 32, 3292);
    EXPECT_TRUE(BuildDibFile(wide, 8).isEmpty());

    // Pixel layout: bottom row first, blue-green-red, padding bytes zero.
    QImage tiny(3, 2, QImage::Format_RGB32);
    tiny.setPixel(0, 0, qRgb(1, 2, 3));
    tiny.setPixel(1, 0, qRgb(4, 5, 6));
    tiny.setPixel(2, 0, qRgb(7, 8, 9));
    tiny.setPixel(0, 1, qRgb(255, 0, 0));
    tiny.setPixel(1, 1, qRgb(0, 255, 0));
    tiny.setPixel(2, 1, qRgb(0, 0, 255));
    const QByteArray bits24 = BuildDibFile(tiny, 24);
    expectHeader(bits24, 3, 2, 24, 12);
    EXPECT_EQ(bits24.mid(54).toHex().toStdString(),
              "0000ff00ff00ff0000000000"
              "030201060504090807000000");
    const QByteArray bits16 = BuildDibFile(tiny, 16);
    expectHeader(bits16, 3, 2, 16, 8);
    // 5-5-5: red 0x7C00, green 0x03E0, blue 0x001F; the low three bits of each are dropped.
    EXPECT_EQ(bits16.mid(54).toHex().toStdString(),
              "007ce0031f000000"
              "0000000021000000");
}

class ChartBitmapExport : public ExportTest {
  protected:
    QString stem() const { return path(QStringLiteral("2010-5-7")); }
    QString channelFile(int n) const { return ChartBitmapPath(stem(), n); }
};

TEST_F(ChartBitmapExport, NineFilesNamedFromTheChosenName) {
    record({"10(mA)", "20(mA)", "30(mA)", "40(mA)", "50(mA)", "60(mA)"});
    dialogs.answer({path("2010-5-7.BMP"), path("typed"), QString()});
    form->OnSaveChart();
    for (int n = 1; n <= 9; ++n) EXPECT_TRUE(QFile::exists(channelFile(n))) << n;
    EXPECT_TRUE(QFile::exists(path("2010-5-7通道9.bmp")));
    EXPECT_FALSE(QFile::exists(path("2010-5-7.BMP")));

    // A name typed without a suffix gets ".BMP" from the dialog, which the stem removes.
    form->OnSaveChart();
    EXPECT_TRUE(QFile::exists(path("typed通道1.bmp")));
    EXPECT_TRUE(QFile::exists(path("typed通道9.bmp")));
    EXPECT_FALSE(QFile::exists(path("typed.BMP")));

    // Cancel: nothing more.
    const int before = static_cast<int>(QDir(dir.path()).entryList(QDir::Files).size());
    form->OnSaveChart();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), before);
    EXPECT_EQ(boxes.count(), 0);

    const std::vector<FileDialog::SaveRequest> requests = dialogs.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].filter, "*.BMP");
    EXPECT_EQ(requests[0].defaultSuffix, "BMP");
    EXPECT_FALSE(requests[0].confirmOverwrite);
    const QDate today = QDate::currentDate();
    EXPECT_EQ(requests[0].proposedName,
              QString("%1-%2-%3").arg(today.year()).arg(today.month()).arg(today.day()));
}

TEST_F(ChartBitmapExport, FileOfTheFrameSizeWithItsHeaders) {
    dialogs.answer({path("2010-5-7.BMP")});
    form->OnSaveChart();
    const QSize frame = form->chartFrameRect().size();
    ASSERT_GE(frame.width(), 801);
    ASSERT_GE(frame.height(), 285);
    const QByteArray file = readAll(channelFile(4));
    expectHeader(file, frame.width(), frame.height(), CHART_BITMAP_BITS,
                 static_cast<int>(DibRowSize(frame.width(), CHART_BITMAP_BITS)));
}

TEST_F(ChartBitmapExport, EachFileShowsItsOwnChannelsCurve) {
    g_bChannelOff[2] = 1;  // channel 3 not in use
    record({"100(mA)", "400(mA)", "-", "0(mA)", "0(mA)", "0(mA)"});
    record({"300(mA)", "400(mA)", "-", "0(mA)", "0(mA)", "0(mA)"});
    // Channel 2 is the one shown on screen.
    form->m_nCurChannel = 2;
    form->m_nCurRow = 1;
    dialogs.answer({path("2010-5-7.BMP")});
    form->OnSaveChart();

    const QImage one(channelFile(1));
    const QImage two(channelFile(2));
    ASSERT_FALSE(one.isNull());
    ASSERT_FALSE(two.isNull());
    // Channel 1 rises from (60, 197) to (70, 97); channel 2 is flat at y 47.
    EXPECT_TRUE(trendNear(one, 65, 147));
    EXPECT_FALSE(trendNear(one, 65, 47));
    EXPECT_TRUE(trendNear(two, 65, 47));
    EXPECT_FALSE(trendNear(two, 65, 147));
    EXPECT_EQ(trendPixels(QImage(channelFile(3))), 0);  // not in use
    for (int n = 7; n <= 9; ++n) EXPECT_EQ(trendPixels(QImage(channelFile(n))), 0) << n;
}

TEST_F(ChartBitmapExport, OneRecordDrawsNoCurve) {
    record({"100(mA)", "400(mA)", "200(mA)", "0(mA)", "0(mA)", "0(mA)"});
    dialogs.answer({path("2010-5-7.BMP")});
    form->OnSaveChart();
    for (int n = 1; n <= 9; ++n) {
        const QImage image(channelFile(n));
        ASSERT_FALSE(image.isNull()) << n;
        EXPECT_EQ(trendPixels(image), 0) << n;
    }
}

TEST_F(ChartBitmapExport, ReadableByAnIndependentReader) {
    record({"100(mA)", "0(mA)", "0(mA)", "0(mA)", "0(mA)", "0(mA)"});
    record({"300(mA)", "0(mA)", "0(mA)", "0(mA)", "0(mA)", "0(mA)"});
    dialogs.answer({path("2010-5-7.BMP")});
    form->OnSaveChart();
    const QSize frame = form->chartFrameRect().size();

    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys\nfrom PIL import Image\n"
                                 "im = Image.open(sys.argv[1]).convert('RGB')\n"
                                 "near = [im.getpixel((x, y)) for x in range(63, 68) "
                                 "for y in range(145, 150)]\n"
                                 "print(im.size[0], im.size[1], im.getpixel((2, 2)), "
                                 "(250, 0, 0) in near, im.getpixel((400, 20)))"),
                  channelFile(1)});
    ASSERT_TRUE(python.waitForFinished(30000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(python.readAllStandardOutput()).trimmed(),
              QStringLiteral("%1 %2 (255, 255, 255) True (0, 0, 0)")
                  .arg(frame.width())
                  .arg(frame.height()));
}

TEST_F(ChartBitmapExport, FileThatCannotBeWrittenIsSkippedAndReported) {
    // A folder in the way of channel 3's file: that file cannot be written.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("2010-5-7通道3.bmp")));
    QFile old(channelFile(5));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old picture");
    old.close();

    dialogs.answer({path("2010-5-7.BMP")});
    form->OnSaveChart();
    for (int n : {1, 2, 4, 5, 6, 7, 8, 9})
        EXPECT_EQ(readAll(channelFile(n)).left(2), "BM") << n;  // channel 5 replaced
    ASSERT_EQ(boxes.count(), 1);
    const QString text = boxes.texts().first();
    EXPECT_TRUE(text.contains(channelFile(3))) << text.toStdString();
    EXPECT_FALSE(text.contains(channelFile(4)));
}

}  // namespace
