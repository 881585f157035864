#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "link/link_threads.h"
#include "platform/gui_gate.h"

// The sanitizers' settings for every test program, read by each sanitizer as it starts (before
// main) and overridden by its environment variable when one is set. They live here rather than
// in the tests' ctest environment, where a list of several variables does not survive test
// discovery.
extern "C" {
const char* __lsan_default_options() { return "suppressions=" KIVO_TESTS_DIR "/lsan.supp"; }
const char* __tsan_default_options() {
    return "halt_on_error=1 second_deadlock_stack=1 suppressions=" KIVO_TESTS_DIR "/tsan.supp";
}
const char* __ubsan_default_options() { return "print_stacktrace=1 halt_on_error=1"; }
}

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
