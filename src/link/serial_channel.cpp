#include "link/serial_channel.h"

const std::array<QString, 16> g_strComNames = {
    QStringLiteral("COM1"),  QStringLiteral("COM2"),  QStringLiteral("COM3"),
    QStringLiteral("COM4"),  QStringLiteral("COM5"),  QStringLiteral("COM6"),
    QStringLiteral("COM7"),  QStringLiteral("COM8"),  QStringLiteral("COM9"),
    QStringLiteral("COM10"), QStringLiteral("COM11"), QStringLiteral("COM12"),
    QStringLiteral("COM13"), QStringLiteral("COM14"), QStringLiteral("COM15"),
    QStringLiteral("COM16")};

bool OpenLink(std::shared_ptr<TestView>, uint8_t) { return false; }
void CloseLink() {}
bool OpenPort(const QString&, int, int, int, int, TestView*) { return false; }
bool ClosePort() { return false; }
bool PortIsOpen() { return false; }
void SendCommand(const QString&, TestView*) {}
void ReceiveThreadProc(std::shared_ptr<TestView>) {}
