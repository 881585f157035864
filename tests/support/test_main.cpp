#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "link/link_threads.h"
#include "platform/gui_gate.h"

// Every test program runs with a QApplication, headless unless told otherwise.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Each test program keeps its tests in an archive of its own, never the build's.
    QTemporaryDir archiveDir;
    if (qEnvironmentVariableIsEmpty("KIVO_ARCHIVE"))
        qputenv("KIVO_ARCHIVE", archiveDir.filePath(QStringLiteral("kivo.sqlite")).toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    GuiGate::instance().close();
    LinkThreads::joinAll();
    return rc;
}
