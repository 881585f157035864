#include <gtest/gtest.h>

#include <QApplication>

#include "link/link_threads.h"
#include "platform/gui_gate.h"

// Every test program runs with a QApplication, headless unless told otherwise.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    GuiGate::instance().close();
    LinkThreads::joinAll();
    return rc;
}
