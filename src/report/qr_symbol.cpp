#include "report/qr_symbol.h"

#include <qrencode.h>

#include <QPainter>
#include <QPainterPath>
#include <memory>

QrSymbol EncodeQr(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty()) return {};
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString(bytes.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), &QRcode_free);
    if (!code || code->width <= 0) return {};
    QrSymbol symbol;
    symbol.width = code->width;
    symbol.dark.resize(size_t(code->width) * size_t(code->width));
    // The lowest bit of each byte is the module's colour; the others are the encoder's own.
    for (size_t i = 0; i < symbol.dark.size(); ++i) symbol.dark[i] = (code->data[i] & 1) != 0;
    return symbol;
}

void PaintQr(QPainter& painter, const QRectF& area, const QrSymbol& symbol) {
    if (symbol.empty()) return;
    const double module = area.width() / symbol.width;
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    // A run of dark modules in a row is one rectangle.
    for (int y = 0; y < symbol.width; ++y)
        for (int x = 0; x < symbol.width;) {
            if (!symbol.at(x, y)) {
                ++x;
                continue;
            }
            const int from = x;
            while (x < symbol.width && symbol.at(x, y)) ++x;
            path.addRect(QRectF(area.left() + from * module, area.top() + y * module,
                                (x - from) * module, module));
        }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillPath(path, Qt::black);
    painter.restore();
}
