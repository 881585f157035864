#include "link/serial_channel.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

#include "link/link_threads.h"
#include "link/reply_decoder.h"
#include "link/reply_frame.h"
#include "platform/gbk_codec.h"
#include "platform/message_box.h"
#include "platform/port_names.h"
#include "platform/serial_port.h"
#include "platform/thread_name.h"
#include "state/test_state.h"
#include "link/link_view.h"

const std::array<QString, 16> g_strComNames = {
    QStringLiteral("COM1"),  QStringLiteral("COM2"),  QStringLiteral("COM3"),
    QStringLiteral("COM4"),  QStringLiteral("COM5"),  QStringLiteral("COM6"),
    QStringLiteral("COM7"),  QStringLiteral("COM8"),  QStringLiteral("COM9"),
    QStringLiteral("COM10"), QStringLiteral("COM11"), QStringLiteral("COM12"),
    QStringLiteral("COM13"), QStringLiteral("COM14"), QStringLiteral("COM15"),
    QStringLiteral("COM16")};

namespace {

const QString kCannotOpen = QStringLiteral("无法打开端口或端口已打开!请检查是否已被占用.");
const QString kSettingsRejected = QStringLiteral("无法按当前参数配置端口，请检查参数!");
const QString kTimeoutsRejected = QStringLiteral("无法设置超时参数!");
const QString kNoThread = QStringLiteral("创建接收线程失败!");
const QString kNotOpen = QStringLiteral("串口未打开!");

constexpr std::size_t kReceiveBufferSize = 1024;

// The instrument's line: 9600 baud, 8 data bits, no parity, one stop bit.
const SerialPort::LineSettings kInstrumentLine{9600, 8, SerialPort::OneStopBit,
                                               SerialPort::NoParity};

// The open port, null when none is open, and the port name it was opened by. Every thread
// takes its own reference for the length of one operation, so closing never pulls the
// device from under a reader.
std::mutex g_comMutex;
std::shared_ptr<SerialPort> g_hCom;
QString g_comName;
// Set once the newest receive thread has ended. Each receive thread waits for the one
// before it to end before it reads, so two of them never decode at the same time, even
// when the port is reopened while the old one is still carrying a reply to the form.
std::shared_ptr<ManualResetEvent> g_receiverDone;

std::atomic<ReceiveSink> g_receiveSink{nullptr};

std::shared_ptr<SerialPort> currentPort() {
    std::lock_guard lock(g_comMutex);
    return g_hCom;
}

void show(LinkView* owner, const QString& text) {
    if (owner)
        owner->message(text);
    else
        MessageBox::show(nullptr, text);
}

// The opening failed because no device stands behind the path.
bool deviceAbsent(const SerialPort::OpenFailure& failure) {
    const int err = failure.err;
    return failure.step == SerialPort::OpenStep::Open &&
           (err == ENOENT || err == ENODEV || err == ENXIO);
}

// The fixed message of a failed opening, with the cause and what to do about it when known.
QString openFailureText(const QString& name, const QString& path,
                        const SerialPort::OpenFailure& failure) {
    using Step = SerialPort::OpenStep;
    const int err = failure.err;
    switch (failure.step) {
        case Step::Open:
            if (deviceAbsent(failure))
                return kCannotOpen +
                       QStringLiteral(
                           "\n设备 %1 不存在：请检查串口线或 USB 转串口适配器是否已接好。")
                           .arg(path);
            if (err == EACCES || err == EPERM)
                return kCannotOpen + QStringLiteral(
                                         "\n没有权限打开 %1：请把当前用户加入 dialout 组（sudo "
                                         "usermod -aG dialout 用户名），然后注销并重新登录。")
                                         .arg(path);
            if (err == EBUSY)
                return kCannotOpen +
                       QStringLiteral("\n设备 %1 正被其他程序使用，请先关闭那个程序。").arg(path);
            return kCannotOpen + QStringLiteral("\n打开 %1 失败（错误码 %2）。").arg(path).arg(err);
        case Step::Lock:
            return kCannotOpen +
                   QStringLiteral("\n设备 %1 正被其他程序使用，请先关闭那个程序。").arg(path);
        case Step::Settings:
            if (err == ENOTTY)
                return kSettingsRejected +
                       QStringLiteral("\n%1 不是串口设备，请为 %2 选择正确的设备。")
                           .arg(path, name);
            if (err == 0)
                return kSettingsRejected + QStringLiteral("\n设备 %1 不支持这组参数。").arg(path);
            return kSettingsRejected +
                   QStringLiteral("\n设备 %1 无响应（错误码 %2），请检查连接。").arg(path).arg(err);
        case Step::Timeouts:
            return kTimeoutsRejected + QStringLiteral("\n设备 %1 不接受读取时间设置。").arg(path);
        case Step::None:
            break;
    }
    return kCannotOpen;
}

// "S" + text + "E"; the instrument takes "a" ... "f" as the six characters after "9".
QByteArray commandFrame(const QString& text) {
    const QByteArray bytes = gbk::encode(text).value_or(text.toLatin1());
    QByteArray frame;
    frame.reserve(bytes.size() + 2);
    frame.append('S');
    for (char c : bytes) frame.append(c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + ':') : c);
    frame.append('E');
    return frame;
}

void handOver(LinkView* view, const char* bytes, std::size_t count) {
    const ReceiveSink sink = g_receiveSink.load();
    (sink ? sink : &DecodeReply)(view, bytes, count);
}

// Reads `port` until it closes or its device goes, the stop event is set or g_bLinkActive
// is cleared, and hands every block to the decoder. The thread sleeps until one of those
// happens or input comes; a reply that has begun is given the time its remaining bytes
// need on the line, so that it is taken in one piece.
void receiveLoop(const std::shared_ptr<LinkView>& view, const std::shared_ptr<SerialPort>& port,
                 const std::shared_ptr<ManualResetEvent>& stop) {
    std::vector<char> buffer(kReceiveBufferSize);
    char* const data = buffer.data();
    const int stopFd = stop ? stop->fd() : -1;
    for (;;) {
        if (!g_bLinkActive.load() || (stop && stop->isSet())) break;
        const SerialPort::ReadResult result =
            port->read(data, buffer.size(), -1, {stopFd, g_bLinkActive.cleared().fd()});
        using Status = SerialPort::ReadStatus;
        if (result.status == Status::Closed || result.status == Status::HungUp) break;
        if (result.status != Status::Data) continue;
        std::size_t count = result.count;
        while (const std::size_t missing = MissingReplyBytes(data, count)) {
            // Asleep while all but the last of the missing characters come in, then awake
            // for the last one, so the reply is taken the moment it is complete.
            const auto character = port->characterTime();
            if (missing > 1 && !port->sleepWhileOpen(character * static_cast<int>(missing - 1)))
                break;
            const int lastMs = static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(character * 2).count());
            const SerialPort::ReadResult more =
                port->read(data + count, buffer.size() - count, lastMs);
            if (more.status != Status::Data) break;  // the line is quiet: the piece goes alone
            if (data[count] == REPLY_START) {
                // A new frame begins: the piece before it goes alone, as it came.
                handOver(view.get(), data, count);
                std::memmove(data, data + count, more.count);
                count = more.count;
            } else {
                count += more.count;
            }
        }
        handOver(view.get(), data, count);
    }
}

// Starts the receive thread of `port`; false when it cannot be created.
bool startReceiver(const std::shared_ptr<LinkView>& view, const std::shared_ptr<SerialPort>& port) {
    std::shared_ptr<ManualResetEvent> stop = g_hRxStopEvent.create();
    auto done = std::make_shared<ManualResetEvent>();
    std::shared_ptr<ManualResetEvent> before;
    {
        std::lock_guard lock(g_comMutex);
        before = g_receiverDone;
        g_receiverDone = done;
    }
    LinkThreads::joinFinished();
    const bool started = LinkThreads::start([view, port, stop, before, done] {
        // The one before ends soon: its port is closed or gone, or it is told to stop. It
        // may still be handing its last reply to the form.
        NameThisThread("kivo-receive");
        if (before) before->wait();
        receiveLoop(view, port, stop);
        done->set();
    });
    if (!started) {
        // A thread that never ran is taken out of the chain without waiting for the one
        // before, which may itself be waiting for the GUI thread that runs this.
        std::lock_guard lock(g_comMutex);
        if (g_receiverDone == done) g_receiverDone = before;
    }
    return started;
}

}  // namespace

bool OpenLink(std::shared_ptr<LinkView> view, uint8_t portIndex) {
    if (portIndex >= g_strComNames.size()) {
        show(view.get(),
             kCannotOpen +
                 QStringLiteral("\n端口序号 %1 不在 COM1～COM16 之内。").arg(portIndex + 1));
        return false;
    }
    if (!OpenPort(g_strComNames[portIndex], kInstrumentLine.baudRate, kInstrumentLine.dataBits,
                  kInstrumentLine.stopBits, kInstrumentLine.parity, view.get()))
        return false;
    if (!startReceiver(view, currentPort())) {
        show(view.get(), kNoThread);
        ClosePort();
        return false;
    }
    return true;
}

void CloseLink() {
    // Closing the port ends its receive thread; the stop event tells it as well. The
    // thread is not waited for here: the next one waits for it before it reads.
    ClosePort();
    g_hRxStopEvent.setAndClose();
}

bool ResumeLink(std::shared_ptr<LinkView> view) {
    std::shared_ptr<SerialPort> port;
    QString name;
    std::shared_ptr<ManualResetEvent> receiverDone;
    {
        std::lock_guard lock(g_comMutex);
        port = g_hCom;
        name = g_comName;
        receiverDone = g_receiverDone;
    }
    if (!port) return true;  // no port: the caller's own check speaks
    bool reopened = false;
    if (port->hungUp() || !port->isOpen()) {
        // The device went away (adapter pulled out). Whatever stands behind the name now
        // is opened: the same adapter plugged in again, maybe under another device name.
        const QString oldPath = QString::fromStdString(port->path());
        PortNames::refresh();
        const QString path = PortNames::devicePath(name);
        SerialPort::OpenFailure failure;
        std::shared_ptr<SerialPort> fresh =
            path.isEmpty() ? nullptr
                           : SerialPort::open(path.toStdString(), kInstrumentLine, &failure);
        if (!fresh) {
            const bool absent = path.isEmpty() || deviceAbsent(failure);
            show(view.get(),
                 absent ? kCannotOpen +
                              QStringLiteral("\n%1 的设备 %2 已断开，现在仍未找到：请插好串口线或 "
                                             "USB 转串口适配器后再试。")
                                  .arg(name, oldPath)
                        : openFailureText(name, path, failure));
            return false;
        }
        {
            std::lock_guard lock(g_comMutex);
            g_hCom = fresh;
        }
        port->close();
        port = std::move(fresh);
        reopened = true;
    }
    // The receive loop ends with a test (FinishTest); a new start needs it again, and a port
    // opened afresh needs its own.
    if (reopened || g_bLinkActive.load() == 0 || !receiverDone || receiverDone->isSet()) {
        g_bLinkActive = 1;
        if (!startReceiver(view, port)) {
            show(view.get(), kNoThread);
            return false;
        }
    }
    return true;
}

bool OpenPort(const QString& name, int baudRate, int dataBits, int stopBits, int parity,
              LinkView* owner) {
    if (std::shared_ptr<SerialPort> open = currentPort()) {
        show(owner, kCannotOpen + QStringLiteral("\n本程序已打开一个端口（%1），请先关闭它。")
                                      .arg(QString::fromStdString(open->path())));
        return false;
    }
    PortNames::refresh();  // an adapter plugged in since the last look is found
    const QString path = PortNames::devicePath(name);
    if (path.isEmpty()) {
        show(owner, kCannotOpen + QStringLiteral("\n%1 没有对应的串口设备：请接好串口线或 USB "
                                                 "转串口适配器，或用环境变量 KIVO_%1 指定设备。")
                                      .arg(name));
        return false;
    }
    SerialPort::OpenFailure failure;
    std::shared_ptr<SerialPort> port =
        SerialPort::open(path.toStdString(),
                         SerialPort::LineSettings{baudRate, dataBits, stopBits, parity}, &failure);
    if (!port) {
        show(owner, openFailureText(name, path, failure));
        return false;
    }
    std::lock_guard lock(g_comMutex);
    g_hCom = std::move(port);
    g_comName = name;
    return true;
}

bool ClosePort() {
    std::shared_ptr<SerialPort> port;
    {
        std::lock_guard lock(g_comMutex);
        port.swap(g_hCom);
    }
    if (!port) return false;
    port->close();
    return true;
}

bool PortIsOpen() { return currentPort() != nullptr; }

void SendCommand(const QString& text, LinkView* owner) {
    const std::shared_ptr<SerialPort> port = currentPort();
    if (!port) {
        show(owner, kNotOpen);
        return;
    }
    // Write errors are not reported: a lost request shows as a missing reply, which the
    // command cycle notices by its time-outs.
    const QByteArray frame = commandFrame(text);
    port->write(frame.constData(), static_cast<std::size_t>(frame.size()));
}

void ReceiveThreadProc(std::shared_ptr<LinkView> view) {
    if (std::shared_ptr<SerialPort> port = currentPort())
        receiveLoop(view, port, g_hRxStopEvent.get());
}

void SetReceiveSinkForTests(ReceiveSink sink) { g_receiveSink = sink; }
