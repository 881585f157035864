#pragma once

#include <QByteArray>

class QImage;

// An uncompressed device-independent bitmap file (".bmp"): the 14-byte file header, the
// 40-byte information header and the pixel rows, bottom row first, each row padded to a
// multiple of four bytes. No colour table; 16 bits a pixel are 5-5-5, 24 are blue, green,
// red, 32 are blue, green, red and a zero byte.
//
// `bitsPerPixel` must be 16, 24 or 32; anything else gives an empty result.
QByteArray BuildDibFile(const QImage& image, int bitsPerPixel);

// Bytes of one stored pixel row: (width × bits + 31) / 32 × 4.
qsizetype DibRowSize(int width, int bitsPerPixel);
