#include <QApplication>
#include <QDir>
#include <QStringList>
#include <QStyleFactory>
#include <cstdio>

#include "link/link_threads.h"
#include "platform/gui_gate.h"
#include "platform/message_box.h"
#include "platform/qt_translations.h"
#include "shots.h"

// kivo-shots [--out FOLDER] [NAME ...]: writes the named pictures (all when none is named)
// into FOLDER (default "docs").

namespace {

const Shot kShots[] = {
    {"main-window", "main-window.png", &RenderMainWindow},
    {"screen-1100x620", "screen-1100x620.png", &RenderSmallScreen},
    {"screen-1280x720", "screen-1280x720.png", &RenderLaptopScreen},
    {"login", "login.png", &RenderLogin},
    {"parameters", "parameters.png", &RenderParameters},
    {"test-form", "test-form.png", &RenderTestForm},
    {"history", "history.png", &RenderHistoryWindow},
    {"history-view", "history-view.png", &RenderHistoryView},
    {"recovery", "recovery.png", &RenderRecoveryQuestion},
};

}  // namespace

MessageBox::Result AnswerOk(QWidget*, const MessageBox::Request& request) {
    std::fprintf(stderr, "kivo-shots: message \"%s\" answered OK\n",
                 request.text.toLocal8Bit().constData());
    return MessageBox::Ok;
}

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // No picture may open a real serial device: the test windows find no COM1.
    qputenv("KIVO_COM1", "/nonexistent/kivo-shots-port");
    QApplication app(argc, argv);
    InstallQtChineseTranslations(app);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // No box may wait for an answer here.
    MessageBox::setResponder(&AnswerOk);

    QString out = QStringLiteral("docs");
    QStringList wanted;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--out") && i + 1 < args.size())
            out = args[++i];
        else
            wanted << args[i];
    }
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "kivo-shots: cannot create %s\n", qPrintable(out));
        return 1;
    }

    int failures = 0;
    int written = 0;
    for (const Shot& shot : kShots) {
        if (!wanted.isEmpty() && !wanted.contains(QLatin1String(shot.name))) continue;
        const QString path = QDir(out).filePath(QLatin1String(shot.file));
        const QImage image = shot.render();
        if (image.isNull() || !image.save(path, "PNG")) {
            std::fprintf(stderr, "kivo-shots: %s could not be written\n", qPrintable(path));
            ++failures;
            continue;
        }
        std::printf("%s (%dx%d)\n", qPrintable(path), image.width(), image.height());
        ++written;
    }
    GuiGate::instance().close();
    LinkThreads::joinAll();
    if (written == 0 && failures == 0) {
        std::fprintf(stderr, "kivo-shots: no such picture: %s\n", qPrintable(wanted.join(' ')));
        return 2;
    }
    return failures == 0 ? 0 : 1;
}
