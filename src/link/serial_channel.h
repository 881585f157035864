#pragma once

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

class LinkView;

// The serial port channel to the instrument: at most one open port for the whole program,
// the receive thread that hands every block it reads to DecodeReply, and the framed writes.

// "COM1" ... "COM16".
extern const std::array<QString, 16> g_strComNames;

// Opens port `portIndex` (0-based) with the instrument's settings and starts the receive
// thread for `view`; true when the port is open and the thread runs. Failures are shown.
// The new thread reads only once the receive thread of an earlier link has ended.
bool OpenLink(std::shared_ptr<LinkView> view, uint8_t portIndex);
// Closes the port and stops the receive thread (without waiting for it).
void CloseLink();
// Makes an open link ready for a start or an initialisation: a port whose device went away
// (adapter pulled out) is opened again under its name, and a receive loop that has ended
// with the previous test runs again. False, after a message that names the device, when
// the device is still missing; true when there is nothing to do or no port at all.
bool ResumeLink(std::shared_ptr<LinkView> view);
// Opens `name` (a "COMn" name) with the given line settings (stop bits and parity numbered
// as SerialPort numbers them); shows its own failures, with the cause where it is known.
bool OpenPort(const QString& name, int baudRate, int dataBits, int stopBits, int parity,
              LinkView* owner = nullptr);
// True when a port was open and has been closed.
bool ClosePort();
// True while a port is open (g_hCom valid).
bool PortIsOpen();
// Frames `text` as "S" + text + "E" ("a"..."f" sent as ":"..."?") and writes it whole.
// With no open port shows "串口未打开!" (owned by `owner`'s form when given).
void SendCommand(const QString& text, LinkView* owner = nullptr);
// The receive thread's routine for the open port: runs while g_bLinkActive is set,
// g_hRxStopEvent is not and the port is open, and hands every block it reads (at most 1024
// bytes, a reply in one piece where the line allows) to DecodeReply.
void ReceiveThreadProc(std::shared_ptr<LinkView> view);

// Where the receive thread hands its blocks instead of DecodeReply (tests); null restores it.
using ReceiveSink = void (*)(LinkView* view, const char* bytes, std::size_t count);
void SetReceiveSinkForTests(ReceiveSink sink);
