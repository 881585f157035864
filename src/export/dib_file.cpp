#include "export/dib_file.h"

#include <QImage>
#include <cstring>

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
constexpr int kPixelOffset = kFileHeaderSize + kInfoHeaderSize;

void put16(char* at, uint16_t value) {
    at[0] = static_cast<char>(value & 0xFF);
    at[1] = static_cast<char>(value >> 8);
}

void put32(char* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

qsizetype DibRowSize(int width, int bitsPerPixel) {
    return (static_cast<qsizetype>(width) * bitsPerPixel + 31) / 32 * 4;
}

QByteArray BuildDibFile(const QImage& image, int bitsPerPixel) {
    if (bitsPerPixel != 16 && bitsPerPixel != 24 && bitsPerPixel != 32) return {};
    const QImage pixels = image.convertToFormat(QImage::Format_RGB32);
    const int width = pixels.width();
    const int height = pixels.height();
    const qsizetype rowSize = DibRowSize(width, bitsPerPixel);
    const qsizetype imageSize = rowSize * height;

    QByteArray file(kPixelOffset + imageSize, '\0');
    char* h = file.data();
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, static_cast<uint32_t>(kPixelOffset + imageSize));
    put32(h + 10, kPixelOffset);
    put32(h + 14, kInfoHeaderSize);
    put32(h + 18, static_cast<uint32_t>(width));
    put32(h + 22, static_cast<uint32_t>(height));  // positive: rows stored bottom-up
    put16(h + 26, 1);
    put16(h + 28, static_cast<uint16_t>(bitsPerPixel));
    put32(h + 34, static_cast<uint32_t>(imageSize));
    // Compression, resolutions and colour counts stay 0.

    for (int y = 0; y < height; ++y) {
        const auto* source = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
        char* row = h + kPixelOffset + static_cast<qsizetype>(height - 1 - y) * rowSize;
        for (int x = 0; x < width; ++x) {
            const QRgb c = source[x];
            const auto r = static_cast<uint32_t>(qRed(c));
            const auto g = static_cast<uint32_t>(qGreen(c));
            const auto b = static_cast<uint32_t>(qBlue(c));
            switch (bitsPerPixel) {
                case 16:
                    put16(row + 2 * x,
                          static_cast<uint16_t>((r >> 3) << 10 | (g >> 3) << 5 | b >> 3));
                    break;
                case 24:
                    row[3 * x] = static_cast<char>(b);
                    row[3 * x + 1] = static_cast<char>(g);
                    row[3 * x + 2] = static_cast<char>(r);
                    break;
                default:
                    put32(row + 4 * x, b | g << 8 | r << 16);
                    break;
            }
        }
    }
    return file;
}
