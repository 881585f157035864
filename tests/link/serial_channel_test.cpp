#include <fcntl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <map>
#include <mutex>
#include <set>

#include "link_fixture.h"
#include "platform/port_names.h"
#include "platform/serial_port.h"

namespace {

const QString kCannotOpen = QStringLiteral("无法打开端口或端口已打开!请检查是否已被占用.");
const QString kSettingsRejected = QStringLiteral("无法按当前参数配置端口，请检查参数!");

bool openCom(const QString& name = QStringLiteral("COM1"), int baud = 9600) {
    return OpenPort(name, baud, 8, SerialPort::OneStopBit, SerialPort::NoParity);
}

double processCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

using SerialChannel = LinkTest;

TEST_F(SerialChannel, OpensTheLineRawAt9600And8N1WithoutFlowControl) {
    ASSERT_TRUE(openCom());
    EXPECT_TRUE(PortIsOpen());
    // A second descriptor on the same pty shows the line settings the port runs with.
    const int probe = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(probe, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(probe, &tio), 0);
    ::close(probe);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(cfgetispeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(boxes.count(), 0);
}

TEST_F(SerialChannel, FramesGoOutByteForByte) {
    ASSERT_TRUE(openCom());
    SendCommand(QStringLiteral("00R030"));
    EXPECT_EQ(pty.read(8, 30000), "S00R030E");
    SendCommand(QStringLiteral("00W071 0000"));
    const std::string stop = pty.read(13, 30000);
    EXPECT_EQ(stop, "S00W071 0000E");
    EXPECT_EQ(stop.size(), 13u);
    SendCommand(QStringLiteral("0a"));
    EXPECT_EQ(pty.read(4, 30000), "S0:E");
    SendCommand(QStringLiteral("abcdefg9"));
    EXPECT_EQ(pty.read(10, 30000), "S:;<=>?g9E");
    EXPECT_EQ(pty.readUntilQuiet(20), "");
}

TEST_F(SerialChannel, SecondOpenFailsAndTheOpenPortKeepsWorking) {
    ASSERT_TRUE(openCom());
    EXPECT_FALSE(openCom());
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_TRUE(boxes.texts()[0].startsWith(kCannotOpen));
    EXPECT_EQ(boxes.shown()[0].request.caption, "Kivo");
    EXPECT_TRUE(PortIsOpen());
    SendCommand(QStringLiteral("00R031"));
    EXPECT_EQ(pty.read(8, 30000), "S00R031E");

    // Another program (here: a second opening of the same device) is locked out as well.
    SerialPort::OpenFailure failure;
    EXPECT_EQ(SerialPort::open(pty.slavePath(), {}, &failure), nullptr);
    EXPECT_EQ(failure.step, SerialPort::OpenStep::Lock);
    SendCommand(QStringLiteral("02R071"));
    EXPECT_EQ(pty.read(8, 30000), "S02R071E");
}

TEST_F(SerialChannel, FailedOpeningsNameTheCauseAndLeaveNoPortBehind) {
    QTemporaryDir dir;
    const QString plainFile = dir.filePath(QStringLiteral("not-a-port"));
    {
        QFile file(plainFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    setenv("KIVO_COM3", "/dev/kivo-no-such-device", 1);
    setenv("KIVO_COM4", plainFile.toLocal8Bit().constData(), 1);

    EXPECT_FALSE(openCom(QStringLiteral("COM3")));
    EXPECT_FALSE(openCom(QStringLiteral("COM4")));
    EXPECT_FALSE(openCom(QStringLiteral("COM1"), 12345));  // a rate the line cannot run at
    EXPECT_FALSE(openCom(QStringLiteral("COM99")));
    unsetenv("KIVO_COM3");
    unsetenv("KIVO_COM4");

    const QStringList texts = boxes.texts();
    ASSERT_EQ(texts.size(), 4);
    EXPECT_TRUE(texts[0].startsWith(kCannotOpen + "\n")) << texts[0].toStdString();
    EXPECT_TRUE(texts[0].contains("/dev/kivo-no-such-device"));
    EXPECT_TRUE(texts[1].startsWith(kSettingsRejected + "\n")) << texts[1].toStdString();
    EXPECT_TRUE(texts[1].contains(plainFile));
    EXPECT_TRUE(texts[2].startsWith(kSettingsRejected));
    EXPECT_TRUE(texts[3].startsWith(kCannotOpen));
    EXPECT_FALSE(PortIsOpen());

    // A rejected configuration releases the device: it opens at once with good settings.
    EXPECT_TRUE(openCom());
}

TEST_F(SerialChannel, SendingWithoutAPortShowsTheMessageFromAnyThread) {
    EXPECT_FALSE(ClosePort());
    std::atomic<bool> done{false};
    std::thread cycle([&] {
        SendCommand(QStringLiteral("00R030"), view.get());
        SendCommand(QStringLiteral("10R010"));
        done = true;
    });
    EXPECT_TRUE(pumpUntil([&] { return done.load(); }));
    cycle.join();
    EXPECT_EQ(boxes.texts(), QStringList({"串口未打开!", "串口未打开!"}));
    EXPECT_EQ(pty.readUntilQuiet(20), "");
}

TEST_F(SerialChannel, ClosingAClosedPortReturnsFalse) {
    EXPECT_FALSE(ClosePort());
    ASSERT_TRUE(openCom());
    EXPECT_TRUE(ClosePort());
    EXPECT_FALSE(PortIsOpen());
    EXPECT_FALSE(ClosePort());
    EXPECT_EQ(boxes.count(), 0);
}

std::mutex g_blockMutex;
std::vector<std::string> g_blocks;

void recordBlock(LinkView*, const char* bytes, std::size_t count) {
    std::lock_guard lock(g_blockMutex);
    g_blocks.emplace_back(bytes, count);
}

std::size_t receivedBytes() {
    std::lock_guard lock(g_blockMutex);
    std::size_t total = 0;
    for (const auto& b : g_blocks) total += b.size();
    return total;
}

TEST_F(SerialChannel, MoreThan1024WaitingBytesArriveInOrderOverSeveralPasses) {
    {
        std::lock_guard lock(g_blockMutex);
        g_blocks.clear();
    }
    SetReceiveSinkForTests(&recordBlock);
    g_bLinkActive = 1;
    ASSERT_TRUE(OpenLink(view, 0));
    std::string sent(5000, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>((i * 7 + 1) % 251);
    pty.write(sent);
    ASSERT_TRUE(pumpUntil([&] { return receivedBytes() >= sent.size(); }));
    std::lock_guard lock(g_blockMutex);
    std::string joined;
    for (const auto& b : g_blocks) {
        EXPECT_LE(b.size(), 1024u);
        joined += b;
    }
    EXPECT_GE(g_blocks.size(), 5u);
    EXPECT_EQ(joined, sent);
}

TEST_F(SerialChannel, PortStillSendsAfterTheReceiveThreadHasEnded) {
    g_bLinkActive = 1;
    ASSERT_TRUE(OpenLink(view, 0));
    ASSERT_EQ(LinkThreads::count(), 1);
    g_bLinkActive = 0;  // the end of a test
    EXPECT_TRUE(pumpUntil([] {
        LinkThreads::joinFinished();
        return LinkThreads::count() == 0;
    }));
    SendCommand(QStringLiteral("00W071 0000"));
    EXPECT_EQ(pty.read(13, 30000), "S00W071 0000E");

    // Reopened through the port command while the link is inactive: the new receive
    // thread ends at once, and the port works.
    CloseLink();
    ASSERT_TRUE(OpenLink(view, 0));
    EXPECT_TRUE(pumpUntil([] {
        LinkThreads::joinFinished();
        return LinkThreads::count() == 0;
    }));
    SendCommand(QStringLiteral("00R030"));
    EXPECT_EQ(pty.read(8, 30000), "S00R030E");

    // The stop event alone ends a receive thread too.
    g_bLinkActive = 1;
    CloseLink();
    ASSERT_TRUE(OpenLink(view, 0));
    g_hRxStopEvent.setAndClose();
    EXPECT_TRUE(pumpUntil([] {
        LinkThreads::joinFinished();
        return LinkThreads::count() == 0;
    }));
    EXPECT_TRUE(PortIsOpen());
}

TEST_F(SerialChannel, FramesFromSeveralThreadsNeverInterleave) {
    ASSERT_TRUE(openCom());
    constexpr int kThreads = 4;
    constexpr int kFrames = 1000;
    // Frames of different lengths per thread, numbered, so a split or a reordering shows.
    auto text = [](int t, int k) {
        return QStringLiteral("%1%2%3").arg(t).arg(k, 4, 10, QChar('0')).arg(QString(t * 5, 'W'));
    };
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([&, t] {
            for (int k = 0; k < kFrames; ++k) SendCommand(text(t, k));
        });
    // Read late, so the writers meet a full output queue and have to wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::size_t expected = 0;
    for (int t = 0; t < kThreads; ++t) expected += kFrames * (5 + 5 * t + 2);
    const std::string wire = pty.read(expected, 20000);
    for (auto& s : senders) s.join();
    ASSERT_EQ(wire.size(), expected);

    std::map<int, int> next;  // thread -> next frame number expected
    std::size_t pos = 0;
    int frames = 0;
    while (pos < wire.size()) {
        ASSERT_EQ(wire[pos], 'S') << "at " << pos;
        const std::size_t end = wire.find('E', pos);
        ASSERT_NE(end, std::string::npos);
        const QString body = QString::fromLatin1(wire.substr(pos + 1, end - pos - 1));
        const int t = body.left(1).toInt();
        ASSERT_EQ(body, text(t, next[t])) << "frame " << frames;
        ++next[t];
        ++frames;
        pos = end + 1;
    }
    EXPECT_EQ(frames, kThreads * kFrames);
    EXPECT_EQ(boxes.count(), 0);
}

TEST_F(SerialChannel, ClosingAndReopeningWhileTheLinkIsBusyIsSafe) {
    g_bLinkActive = 1;
    ASSERT_TRUE(OpenLink(view, 0));
    std::atomic<bool> stop{false}, senderDone{false};
    std::thread sender([&] {
        while (!stop) {
            if (PortIsOpen()) SendCommand(QStringLiteral("00R030"));
            std::this_thread::yield();
        }
        senderDone = true;
    });
    std::thread drain([&] {
        while (!stop) pty.read(4096, 5);
    });
    int reopened = 0;
    for (int i = 0; i < 40; ++i) {
        pty.write(
            std::string("\x04"
                        "0030 0025.30\x05"));
        EXPECT_TRUE(ClosePort());
        if (openCom()) ++reopened;
        QCoreApplication::processEvents();
    }
    stop = true;
    EXPECT_TRUE(pumpUntil([&] { return senderDone.load(); }));
    sender.join();
    drain.join();
    // Every reopening found the device released, whatever the other threads were doing;
    // the only possible message is a send that fell between a close and an open.
    EXPECT_EQ(reopened, 40);
    for (const QString& text : boxes.texts()) EXPECT_EQ(text, "串口未打开!");
}

TEST_F(SerialChannel, DeadDeviceIsLeftAloneFailureIsReportedAndReopeningWorks) {
    SetCommandCycleTimingForTests({2, 40});
    g_bLinkActive = 1;
    view->m_started = true;
    ASSERT_TRUE(OpenLink(view, 0));
    {
        ScriptedPeer peer(
            pty, [](const std::string& text, int) { return ScriptedPeer::instrument(text); });
        g_bWorkerRun = 1;
        ASSERT_TRUE(StartCommandCycle(view));
        EnqueueCommand(CMD_READ_CHANNELS);
        ASSERT_TRUE(pumpUntil([&] { return view->channelCell(5, 5) == "25.25(C)"; }));
        ASSERT_TRUE(pumpUntil([] { return g_nCurCommand.load() == 0; }));
    }

    // The cable is pulled out while the receive thread waits for input.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    pty.closeMaster();
    const double before = processCpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double used = processCpuMs() - before;
    EXPECT_LT(used, 80.0) << "the link threads keep working on a dead device";
    EXPECT_EQ(boxes.count(), 0);  // no message of its own, and certainly no flood

    // The next poll finds silence: seven sends, then the failure as designed.
    EnqueueCommand(CMD_READ_CHANNELS);
    ASSERT_TRUE(pumpUntil([&] { return boxes.count() >= 1 && view->stops() == 1; }));
    pumpFor(100);
    EXPECT_EQ(boxes.texts(), QStringList({"通信失败!10"}));
    EXPECT_EQ(view->itemText(1001), "通信故障");
    EXPECT_EQ(view->channelCell(2, 4), "12.50(mA)");  // the readings stay

    // The operator plugs in again and picks the port anew ("通信端口").
    Pty replugged;
    setenv("KIVO_COM1", replugged.slavePath().c_str(), 1);
    CloseLink();
    ASSERT_TRUE(OpenLink(view, 0));
    ScriptedPeer peer(replugged,
                      [](const std::string& text, int) { return ScriptedPeer::instrument(text); });
    g_nRetry = 0;  // a new start
    view->setChannelCell(0, 4, QString());
    EnqueueCommand(CMD_READ_CHANNELS);
    EXPECT_TRUE(pumpUntil([&] { return view->channelCell(0, 4) == "10.50(mA)"; }));
    EXPECT_EQ(boxes.count(), 1);
    EXPECT_TRUE(stopLinkThreads(view));
    peer.stop();
}

}  // namespace

namespace {

// An adapter plugged in after the program started is opened without a restart.
TEST_F(SerialChannel, APortPluggedInAfterTheStartOpens) {
    QTemporaryDir root;
    const QString dev = root.filePath("dev");
    QDir().mkpath(dev);
    unsetenv("KIVO_COM1");
    PortNames::setFoldersForTests(dev, root.filePath("sys"));
    EXPECT_FALSE(openCom());
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_TRUE(boxes.texts()[0].contains("COM1 没有对应的串口设备"));

    ASSERT_TRUE(QFile::link(QString::fromStdString(pty.slavePath()), dev + "/ttyUSB0"));
    EXPECT_TRUE(openCom());
    SendCommand(QStringLiteral("00R030"));
    EXPECT_EQ(pty.read(8, 30000), "S00R030E");
    PortNames::setFoldersForTests({}, {});
}

}  // namespace
