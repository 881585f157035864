#pragma once

#include <QString>
#include <QStringList>

// The port names "COM1" ... "COM16" of the program mapped onto serial devices.
//
// COMn is the device named by the environment variable KIVO_COMn when it is set. Otherwise
// it is the n-th serial device of the latest look at the system (refresh(): whenever a port
// list is shown and before every opening, so an adapter plugged in after the program
// started is found). The order stays the same when adapters are pulled and plugged in
// again: first the devices with a stable name under /dev/serial/by-id (USB adapters), by
// that name; then the others by device name: /dev/ttyUSB*, /dev/ttyACM*, then the
// /dev/ttyS* with a real port behind them, each group in numeric order.
namespace PortNames {

inline constexpr int kPortCount = 16;

// The number n of "COMn" (1 ... 16), or 0 for any other name.
int portNumber(const QString& name);

// The device path of `name`, or empty when no device stands behind it.
QString devicePath(const QString& name);

// One line for the operator about the device behind `name`, enough to tell two adapters
// apart, for example "/dev/ttyUSB0 (FT232R USB UART，序列号 A50285BI，USB 接口 1-1.2)" or
// "未找到对应的串口设备".
QString describe(const QString& name);

// The serial number of the USB adapter behind the device at `devicePath`, empty when it has
// none or is no USB adapter.
QString usbSerial(const QString& devicePath);

// The serial devices under `devDir` in the order above, judged by the tty entries under
// `sysTtyDir`, with the stable names under `byIdDir` (default: devDir/serial/by-id).
// Kernel consoles are left out: the instrument is never on one.
QStringList scanSerialDevices(const QString& devDir = QStringLiteral("/dev"),
                              const QString& sysTtyDir = QStringLiteral("/sys/class/tty"),
                              const QString& byIdDir = QString());

// Looks at the system again.
void refresh();
// The devices of the latest look (the first use looks).
QStringList devices();

// Where refresh() looks (tests); empty texts restore /dev and /sys/class/tty.
void setFoldersForTests(const QString& devDir, const QString& sysTtyDir);

}  // namespace PortNames
