#include "platform/song_font.h"

#include <QStringList>

QFont songFont(int pixelSize, int weight) {
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("AR PL UMing CN"),
                      QStringLiteral("AR PL UMing TW")});
    font.setPixelSize(pixelSize);
    font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}
