#include "platform/port_names.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

namespace {

void touch(const QString& path, const QByteArray& content = {}) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

TEST(PortNames, DevicesAreNumberedUsbThenAcmThenRealOnboardPorts) {
    QTemporaryDir root;
    const QString dev = root.filePath("dev");
    const QString sys = root.filePath("sys");
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "ttyS2", "ttyS3",
                             "ttyS4", "ttyS10", "ttyUSBx", "ttyprintk", "console", "ttyACM1"})
        touch(dev + '/' + name);
    touch(sys + "/ttyS0/type", "4\n");  // the kernel console: not the instrument's port
    touch(sys + "/ttyS0/console", "Y\n");
    QDir().mkpath(sys + "/ttyS0/device/driver");
    touch(sys + "/ttyS1/type", "4\n");  // a 16550A with its driver
    touch(sys + "/ttyS1/console", "N\n");
    QDir().mkpath(sys + "/ttyS1/device/driver");
    touch(sys + "/ttyS2/type", "0\n");  // registered, but no chip behind it
    QDir().mkpath(sys + "/ttyS2/device/driver");
    touch(sys + "/ttyS3/type", "4\n");            // no driver bound
    QDir().mkpath(sys + "/ttyS4/device/driver");  // no type to read and no real port to ask
    touch(sys + "/ttyS10/type", "4\n");
    QDir().mkpath(sys + "/ttyS10/device/driver");
    touch(sys + "/ttyACM1/console", "Y\n");

    EXPECT_EQ(PortNames::scanSerialDevices(dev, sys),
              QStringList({dev + "/ttyUSB2", dev + "/ttyUSB10", dev + "/ttyACM0", dev + "/ttyS1",
                           dev + "/ttyS10"}));
    EXPECT_TRUE(PortNames::scanSerialDevices(root.filePath("none"), sys).isEmpty());
}

TEST(PortNames, EnvironmentNamesTheDeviceOfAPort) {
    EXPECT_EQ(PortNames::portNumber("COM1"), 1);
    EXPECT_EQ(PortNames::portNumber("COM16"), 16);
    for (const char* bad : {"COM0", "COM17", "COM01", "com1", "COM", "COM1 ", "LPT1"})
        EXPECT_EQ(PortNames::portNumber(bad), 0) << bad;

    setenv("KIVO_COM7", "/dev/kivo-bench-port", 1);
    EXPECT_EQ(PortNames::devicePath("COM7"), "/dev/kivo-bench-port");
    const QString description = PortNames::describe("COM7");
    EXPECT_TRUE(description.startsWith("/dev/kivo-bench-port")) << description.toStdString();
    EXPECT_TRUE(description.contains("KIVO_COM7"));
    EXPECT_TRUE(description.contains("设备不存在"));
    unsetenv("KIVO_COM7");
    EXPECT_EQ(PortNames::devicePath("COM17"), "");
    EXPECT_EQ(PortNames::describe("COM17"), "");
    if (PortNames::devices().size() < 16) {
        EXPECT_EQ(PortNames::describe("COM16"), "未找到对应的串口设备");
    }
}

}  // namespace

namespace {

void link(const QString& target, const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    QFile::remove(path);
    ASSERT_TRUE(QFile::link(target, path)) << path.toStdString();
}

// Adapters keep their order when they are pulled and plugged in again in another order
// (and the kernel numbers them the other way round): the stable names decide.
TEST(PortNames, AdaptersAreOrderedByTheirStableNamesThenByDeviceName) {
    QTemporaryDir root;
    const QString dev = root.filePath("dev");
    const QString sys = root.filePath("sys");
    const QString byId = dev + "/serial/by-id";
    for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyACM0", "ttyS1"})
        touch(dev + '/' + name);
    touch(sys + "/ttyS1/type", "4\n");
    QDir().mkpath(sys + "/ttyS1/device/driver");
    link("../../ttyUSB0", byId + "/usb-FTDI_FT232R_USB_UART_B222-if00-port0");
    link("../../ttyUSB1", byId + "/usb-FTDI_FT232R_USB_UART_A111-if00-port0");
    link("../../ttyACM0", byId + "/usb-Arduino_Uno_C333-if00");
    // ttyUSB2 has no stable name (two adapters without serial numbers share one).
    EXPECT_EQ(PortNames::scanSerialDevices(dev, sys),
              QStringList({dev + "/ttyACM0", dev + "/ttyUSB1", dev + "/ttyUSB0", dev + "/ttyUSB2",
                           dev + "/ttyS1"}));

    // Plugged in again the other way round: the A111 adapter is still the earlier one.
    link("../../ttyUSB1", byId + "/usb-FTDI_FT232R_USB_UART_B222-if00-port0");
    link("../../ttyUSB0", byId + "/usb-FTDI_FT232R_USB_UART_A111-if00-port0");
    EXPECT_EQ(PortNames::scanSerialDevices(dev, sys),
              QStringList({dev + "/ttyACM0", dev + "/ttyUSB0", dev + "/ttyUSB1", dev + "/ttyUSB2",
                           dev + "/ttyS1"}));
}

// The names are looked up afresh (every port list, every opening), and the description
// tells two adapters of one kind apart.
TEST(PortNames, AnAdapterPluggedInLaterIsFoundAndDescribed) {
    QTemporaryDir root;
    const QString dev = root.filePath("dev");
    const QString sys = root.filePath("sys");
    unsetenv("KIVO_COM1");
    PortNames::setFoldersForTests(dev, sys);
    EXPECT_EQ(PortNames::devicePath("COM1"), "");

    touch(dev + "/ttyUSB0");
    const QString usb = root.filePath("devices/usb1/1-1.2");
    touch(usb + "/product", "FT232R USB UART\n");
    touch(usb + "/manufacturer", "FTDI\n");
    touch(usb + "/serial", "A50285BI\n");
    QDir().mkpath(usb + "/1-1.2:1.0/ttyUSB0");
    link(usb + "/1-1.2:1.0/ttyUSB0", sys + "/ttyUSB0/device");
    EXPECT_EQ(PortNames::devicePath("COM1"), "");  // not looked at again yet
    PortNames::refresh();
    EXPECT_EQ(PortNames::devicePath("COM1"), dev + "/ttyUSB0");
    const QString description = PortNames::describe("COM1");
    EXPECT_EQ(description,
              dev + "/ttyUSB0 (FTDI FT232R USB UART，序列号 A50285BI，USB 接口 1-1.2)");

    PortNames::setFoldersForTests({}, {});
}

}  // namespace
