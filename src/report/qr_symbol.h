#pragma once

#include <QRectF>
#include <QString>
#include <vector>

class QPainter;

// A QR code of a text (its UTF-8 bytes, error correction level M), as the squares of its
// modules, row by row from the top left.
struct QrSymbol {
    int width = 0;           // modules across (and down); 0 when the text cannot be encoded
    std::vector<bool> dark;  // width × width

    bool empty() const { return width == 0; }
    bool at(int x, int y) const { return dark[size_t(y) * size_t(width) + size_t(x)]; }
};

QrSymbol EncodeQr(const QString& text);

// The modules a reader needs clear of any mark on each side of the symbol.
constexpr int kQrQuietModules = 4;

// Paints the dark modules of `symbol` as filled squares in `area` (the symbol alone, the quiet
// zone around it left to the caller), in one filled path so that no seam shows between
// neighbouring squares.
void PaintQr(QPainter& painter, const QRectF& area, const QrSymbol& symbol);
