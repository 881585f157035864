#include "app/program_pictures.h"

// Generated from resources/kivo.qrc.
int qInitResources_kivo();

namespace {

// The resources live in a static library: calling their initialiser keeps them linked.
void loadResources() {
    static const int loaded = qInitResources_kivo();
    (void)loaded;
}

}  // namespace

QIcon ProgramIcon() {
    loadResources();
    return QIcon(QStringLiteral(":/images/program_icon.png"));
}

QIcon TestWindowIcon() {
    loadResources();
    return QIcon(QStringLiteral(":/images/test_window_icon.png"));
}

QPixmap BackgroundPicture() {
    loadResources();
    return QPixmap(QStringLiteral(":/images/background.png"));
}
