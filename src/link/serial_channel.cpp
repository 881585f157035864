#include "link/serial_channel.h"

#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "link/link_threads.h"
#include "link/reply_decoder.h"
#include "platform/gbk_codec.h"
#include "platform/message_box.h"
#include "platform/port_names.h"
#include "platform/serial_port.h"
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
constexpr int kPassMs = 10;
// How long one pass waits for input on an open port. Input ends the wait at once, and so
// does closing the port (as every stop of the link that does not come from this thread
// does), so a longer wait only saves wake-ups of an idle line.
constexpr int kReadWaitMs = 50;
constexpr int kCloseGraceMs = 100;

// The open port, null when none is open. Every thread takes its own reference for the
// length of one operation, so closing never pulls the device from under a reader.
std::mutex g_comMutex;
std::shared_ptr<SerialPort> g_hCom;

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

// The fixed message of a failed opening, with the cause and what to do about it when known.
QString openFailureText(const QString& name, const QString& path,
                        const SerialPort::OpenFailure& failure) {
    using Step = SerialPort::OpenStep;
    const int err = failure.err;
    switch (failure.step) {
        case Step::Open:
            if (err == ENOENT || err == ENODEV || err == ENXIO)
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

bool waitForStop(const std::shared_ptr<ManualResetEvent>& stop, int ms) {
    if (stop) return stop->wait_for(ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return false;
}

// One pass: check the stop event and the link flag, wait at most kPassMs for input, hand
// what came to the decoder. A port whose device has gone is not read again; the thread
// idles until it is told to stop, and the command cycle reports the silence.
void receiveLoop(const std::shared_ptr<LinkView>& view,
                 const std::shared_ptr<ManualResetEvent>& stop) {
    std::vector<char> buffer(kReceiveBufferSize);
    while (g_bLinkActive.load()) {
        if (stop && stop->isSet()) break;
        const std::shared_ptr<SerialPort> port = currentPort();
        if (!port || !port->isOpen()) {
            if (waitForStop(stop, kPassMs)) break;
            continue;
        }
        const SerialPort::ReadResult result =
            port->read(buffer.data(), buffer.size(), kReadWaitMs);
        if (result.status != SerialPort::ReadStatus::Data) continue;
        const ReceiveSink sink = g_receiveSink.load();
        (sink ? sink : &DecodeReply)(view.get(), buffer.data(), result.count);
    }
}

}  // namespace

bool OpenLink(std::shared_ptr<LinkView> view, uint8_t portIndex) {
    if (portIndex >= g_strComNames.size()) {
        show(view.get(),
             kCannotOpen +
                 QStringLiteral("\n端口序号 %1 不在 COM1～COM16 之内。").arg(portIndex + 1));
        return false;
    }
    if (!OpenPort(g_strComNames[portIndex], 9600, 8, SerialPort::OneStopBit, SerialPort::NoParity,
                  view.get()))
        return false;
    std::shared_ptr<ManualResetEvent> stop = g_hRxStopEvent.create();
    LinkThreads::joinFinished();
    if (!LinkThreads::start([view, stop] { receiveLoop(view, stop); })) {
        show(view.get(), kNoThread);
        ClosePort();
        return false;
    }
    return true;
}

void CloseLink() {
    ClosePort();
    if (std::shared_ptr<ManualResetEvent> stop = g_hRxStopEvent.get()) {
        stop->set();
        std::this_thread::sleep_for(std::chrono::milliseconds(kCloseGraceMs));
        g_hRxStopEvent.clear();
    }
}

bool OpenPort(const QString& name, int baudRate, int dataBits, int stopBits, int parity,
              LinkView* owner) {
    if (std::shared_ptr<SerialPort> open = currentPort()) {
        show(owner, kCannotOpen + QStringLiteral("\n本程序已打开一个端口（%1），请先关闭它。")
                                      .arg(QString::fromStdString(open->path())));
        return false;
    }
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

void ReceiveThreadProc(std::shared_ptr<LinkView> view) { receiveLoop(view, g_hRxStopEvent.get()); }

void SetReceiveSinkForTests(ReceiveSink sink) { g_receiveSink = sink; }
