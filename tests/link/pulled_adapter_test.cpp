#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cerrno>

#include "link_fixture.h"
#include "monitor/form_ids.h"
#include "platform/serial_port.h"

namespace {

double processCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

int threadsRunning() {
    LinkThreads::joinFinished();
    return LinkThreads::count();
}

const QString kCannotOpen = QStringLiteral("无法打开端口或端口已打开!请检查是否已被占用.");

using PulledAdapter = LinkTest;

TEST_F(PulledAdapter, NothingSpinsWhileTheDeviceIsGoneAndTheNextStartOpensItAgain) {
    // The device node of an adapter goes with it: here a link to the terminal, as the udev
    // names and the virtual instrument's link are.
    QTemporaryDir dir;
    const std::string device = dir.filePath("ttyUSB0").toStdString();
    ASSERT_EQ(symlink(pty.slavePath().c_str(), device.c_str()), 0);
    setenv("KIVO_COM1", device.c_str(), 1);
    SetCommandCycleTimingForTests({2, 40});
    view->m_started = true;
    g_bLinkActive = 1;
    ASSERT_TRUE(OpenLink(view, 0));
    g_bWorkerRun = 1;
    ASSERT_TRUE(StartCommandCycle(view));

    // Pulled out: the receive thread ends, the command cycle sleeps; neither wakes again.
    pty.closeMaster();
    unlink(device.c_str());
    ASSERT_TRUE(pumpUntil([] { return threadsRunning() == 1; }));
    const double before = processCpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LT(processCpuMs() - before, 20.0) << "a link thread keeps waking on a dead device";
    EXPECT_TRUE(PortIsOpen());  // the operator chose the port; it only has no device now

    // Still gone: the message names the device and says to plug it in; nothing else.
    EXPECT_FALSE(ResumeLink(view));
    ASSERT_EQ(boxes.count(), 1);
    const QString text = boxes.texts()[0];
    EXPECT_TRUE(text.startsWith(kCannotOpen + "\n")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromStdString(device))) << text.toStdString();
    EXPECT_TRUE(text.contains("请插好")) << text.toStdString();
    EXPECT_EQ(threadsRunning(), 1);

    // Plugged in again (behind the name, another terminal).
    Pty replugged;
    ASSERT_EQ(symlink(replugged.slavePath().c_str(), device.c_str()), 0);
    ScriptedPeer peer(replugged,
                      [](const std::string& text, int) { return ScriptedPeer::instrument(text); });
    EXPECT_TRUE(ResumeLink(view));
    EXPECT_EQ(threadsRunning(), 2);
    EnqueueCommand(CMD_READ_CHANNELS);
    EXPECT_TRUE(pumpUntil([&] { return view->channelCell(5, 5) == "25.25(C)"; }));
    EXPECT_EQ(peer.count("10R010"), 1);
    EXPECT_EQ(boxes.count(), 1);

    // Nothing to do for a link that works.
    EXPECT_TRUE(ResumeLink(view));
    EXPECT_EQ(threadsRunning(), 2);
}

// Tries to open `path` as an unprivileged program would (a terminal program, cat); the
// errno of the failed open(), 0 when it opened.
int openAsAnotherProgram(const std::string& path) {
    // The child leaves by the bare system call: nothing of this process's own ending (a
    // sanitizer's report on threads it only has a copy of) runs in it.
    const pid_t pid = fork();
    if (pid == 0) {
        if (getuid() == 0 && setuid(65534) != 0) syscall(SYS_exit_group, 100);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        syscall(SYS_exit_group, fd >= 0 ? 0 : errno);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(PulledAdapter, NoOtherProgramOpensThePortWhileItIsHeld) {
    ASSERT_EQ(chmod(pty.slavePath().c_str(), 0666), 0);
    ASSERT_EQ(openAsAnotherProgram(pty.slavePath()), 0);  // free: anyone may open it

    g_bLinkActive = 1;
    ASSERT_TRUE(OpenLink(view, 0));
    EXPECT_EQ(openAsAnotherProgram(pty.slavePath()), EBUSY);

    // Released with the port, even though the terminal itself stays open on the far side.
    CloseLink();
    EXPECT_EQ(openAsAnotherProgram(pty.slavePath()), 0);
    EXPECT_EQ(boxes.count(), 0);
}

}  // namespace
