#pragma once

#include <QString>
#include <QStringList>

// The port names "COM1" ... "COM16" of the program mapped onto serial devices.
//
// COMn is the device named by the environment variable KIVO_COMn when it is set. Otherwise
// it is the n-th serial device found when the program started: /dev/ttyUSB*, /dev/ttyACM*,
// then the /dev/ttyS* with a real port behind them, each group in numeric order.
namespace PortNames {

inline constexpr int kPortCount = 16;

// The number n of "COMn" (1 ... 16), or 0 for any other name.
int portNumber(const QString& name);

// The device path of `name`, or empty when no device stands behind it.
QString devicePath(const QString& name);

// One line for the operator about the device behind `name`, for example
// "/dev/ttyUSB0 (FT232R USB UART)" or "未找到对应的串口设备".
QString describe(const QString& name);

// The serial devices under `devDir` in the order above, judged by the tty entries under
// `sysTtyDir`. Kernel consoles are left out: the instrument is never on one.
QStringList scanSerialDevices(const QString& devDir = QStringLiteral("/dev"),
                              const QString& sysTtyDir = QStringLiteral("/sys/class/tty"));

// The devices found at program start (scanned on first use).
QStringList devicesAtStart();

}  // namespace PortNames
