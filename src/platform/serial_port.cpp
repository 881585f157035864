#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

namespace {

struct Speed {
    int baud;
    speed_t code;
};

constexpr Speed kSpeeds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool speedCode(int baud, speed_t* code) {
    for (const Speed& s : kSpeeds) {
        if (s.baud == baud) {
            *code = s.code;
            return true;
        }
    }
    return false;
}

// Raw 8-bit line with the given framing, receiver on, modem lines ignored, no flow control
// of either kind. False when the values cannot be expressed.
bool buildLine(const SerialPort::LineSettings& line, termios* tio) {
    speed_t speed;
    if (!speedCode(line.baudRate, &speed)) return false;
    cfmakeraw(tio);
    tio->c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP | PARMRK | IGNPAR);
    tio->c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio->c_cflag |= CLOCAL | CREAD;
    switch (line.dataBits) {
        case 5:
            tio->c_cflag |= CS5;
            break;
        case 6:
            tio->c_cflag |= CS6;
            break;
        case 7:
            tio->c_cflag |= CS7;
            break;
        case 8:
            tio->c_cflag |= CS8;
            break;
        default:
            return false;
    }
    switch (line.stopBits) {
        case SerialPort::OneStopBit:
            break;
        case SerialPort::TwoStopBits:
            tio->c_cflag |= CSTOPB;
            break;
        default:
            return false;  // one and a half stop bits do not exist here
    }
    switch (line.parity) {
        case SerialPort::NoParity:
            break;
        case SerialPort::OddParity:
            tio->c_cflag |= PARENB | PARODD;
            break;
        case SerialPort::EvenParity:
            tio->c_cflag |= PARENB;
            break;
        case SerialPort::MarkParity:
            tio->c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case SerialPort::SpaceParity:
            tio->c_cflag |= PARENB | CMSPAR;
            break;
        default:
            return false;
    }
    return cfsetispeed(tio, speed) == 0 && cfsetospeed(tio, speed) == 0;
}

// tcsetattr succeeds when any part of the request was taken; read the line back to be sure.
bool lineTaken(int fd, const termios& wanted) {
    termios now{};
    if (tcgetattr(fd, &now) != 0) return false;
    const tcflag_t framing = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    return cfgetospeed(&now) == cfgetospeed(&wanted) &&
           (now.c_cflag & framing) == (wanted.c_cflag & framing);
}

// Configures an opened device; the failed step, or None.
SerialPort::OpenFailure configure(int fd, const SerialPort::LineSettings& line) {
    using Step = SerialPort::OpenStep;
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return {Step::Settings, errno};
    if (!buildLine(line, &tio)) return {Step::Settings, 0};
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return {Step::Settings, errno};
    if (!lineTaken(fd, tio)) return {Step::Settings, 0};

    // DTR and RTS stay low. A pseudo-terminal has no modem lines and refuses the request;
    // that refusal alone is harmless.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL)
        return {Step::Settings, errno};

    // Reads never block in the driver: poll() does the waiting.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return {Step::Timeouts, errno};

    tcflush(fd, TCIOFLUSH);
    return {};
}

std::chrono::microseconds lineCharacterTime(const SerialPort::LineSettings& line) {
    const int bits = 1 + line.dataBits + (line.parity == SerialPort::NoParity ? 0 : 1) +
                     (line.stopBits == SerialPort::TwoStopBits ? 2 : 1);
    return std::chrono::microseconds(line.baudRate > 0 ? bits * 1000000LL / line.baudRate : 0);
}

bool deviceGone(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EBADF; }

}  // namespace

std::shared_ptr<SerialPort> SerialPort::open(const std::string& path, const LineSettings& settings,
                                             OpenFailure* failure) {
    OpenFailure result;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result = {OpenStep::Open, errno};
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        result = {OpenStep::Lock, errno};
    } else if (ioctl(fd, TIOCEXCL) != 0) {
        // Every real terminal takes it; a device that refuses it is not one.
        result = {OpenStep::Settings, errno};
    } else {
        result = configure(fd, settings);
    }
    int wakeFd = -1;
    if (result.step == OpenStep::None) {
        wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd < 0) result = {OpenStep::Open, errno};
    }
    if (result.step != OpenStep::None) {
        if (fd >= 0) {
            ioctl(fd, TIOCNXCL);
            ::close(fd);
        }
        if (failure) *failure = result;
        return nullptr;
    }
    if (failure) *failure = {};
    return std::shared_ptr<SerialPort>(
        new SerialPort(path, fd, wakeFd, lineCharacterTime(settings)));
}

SerialPort::SerialPort(std::string path, int fd, int wakeFd, std::chrono::microseconds character)
    : m_path(std::move(path)), m_fd(fd), m_wakeFd(wakeFd), m_characterTime(character) {}

SerialPort::~SerialPort() {
    close();
    ::close(m_wakeFd);
}

bool SerialPort::enter() {
    std::lock_guard lock(m_useMutex);
    if (m_closed) return false;
    ++m_users;
    return true;
}

void SerialPort::leave() {
    std::lock_guard lock(m_useMutex);
    if (--m_users == 0) m_idle.notify_all();
}

void SerialPort::close() {
    std::unique_lock lock(m_useMutex);
    if (!m_closed) {
        m_closed = true;
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = ::write(m_wakeFd, &one, sizeof one);
    }
    // Every caller returns only once the device is released, so the port can be opened
    // again at once.
    m_idle.wait(lock, [this] { return m_users == 0; });
    if (!m_released) {
        // The exclusive mode belongs to the terminal, not to this descriptor: a terminal that
        // stays open elsewhere (a pseudo-terminal's other side held by the instrument's
        // program) would keep it and turn the next opening away.
        ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
        m_released = true;
    }
}

bool SerialPort::isOpen() const {
    std::lock_guard lock(m_useMutex);
    return !m_closed;
}

void SerialPort::releaseAfterHangUp() {
    m_hungUp = true;
    close();
}

SerialPort::ReadResult SerialPort::read(char* buffer, std::size_t capacity, int waitMs,
                                        std::initializer_list<int> wakeOn) {
    if (m_hungUp) return {ReadStatus::HungUp, 0};
    if (!enter()) return {ReadStatus::Closed, 0};

    constexpr std::size_t kMaxWakeFds = 4;
    pollfd fds[2 + kMaxWakeFds] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    nfds_t count = 2;
    for (int fd : wakeOn)
        if (fd >= 0 && count < 2 + kMaxWakeFds) fds[count++] = {fd, POLLIN, 0};

    ReadResult result;
    bool gone = false;
    const int ready = ::poll(fds, count, waitMs < 0 ? -1 : waitMs);
    bool woken = false;
    for (nfds_t i = 2; i < count; ++i) woken = woken || fds[i].revents != 0;
    if (ready < 0) {
        gone = errno != EINTR && errno != EAGAIN;
    } else if (fds[1].revents != 0) {
        result.status = ReadStatus::Closed;
    } else if (woken && fds[0].revents == 0) {
        result.status = ReadStatus::Woken;
    } else if (fds[0].revents & POLLNVAL) {
        gone = true;
    } else if (fds[0].revents != 0) {
        const ssize_t got = ::read(m_fd, buffer, capacity);
        if (got > 0) {
            result = {ReadStatus::Data, static_cast<std::size_t>(got)};
        } else if (got == 0) {
            gone = true;  // end of file: the line has been hung up
        } else if (errno == EAGAIN || errno == EINTR) {
            gone = (fds[0].revents & (POLLHUP | POLLERR)) != 0;
        } else {
            gone = true;
        }
    }
    leave();
    if (gone) {
        releaseAfterHangUp();
        return {ReadStatus::HungUp, 0};
    }
    return result;
}

bool SerialPort::sleepWhileOpen(std::chrono::microseconds time) {
    if (m_hungUp) return false;
    pollfd fd{m_wakeFd, POLLIN, 0};
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(time).count();
    const timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    if (::ppoll(&fd, 1, &wait, nullptr) > 0) return false;
    return isOpen();
}

bool SerialPort::write(const char* data, std::size_t size, int stallLimitMs) {
    using Clock = std::chrono::steady_clock;
    std::lock_guard frame(m_writeMutex);
    if (m_hungUp) return false;
    if (!enter()) return false;

    bool ok = true;
    bool gone = false;
    std::size_t done = 0;
    Clock::time_point lastProgress = Clock::now();
    while (done < size) {
        const ssize_t n = ::write(m_fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            lastProgress = Clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            gone = deviceGone(errno);
            ok = false;
            break;
        }
        // The driver's output queue is full: wait until it takes more, or give up.
        const auto stalled =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastProgress);
        const int left = stallLimitMs - static_cast<int>(stalled.count());
        if (left <= 0) {
            ok = false;
            break;
        }
        pollfd fds[2] = {{m_fd, POLLOUT, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, left) < 0 && errno != EINTR) {
            ok = false;
            break;
        }
        if (fds[1].revents != 0) {
            ok = false;  // closing
            break;
        }
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            gone = true;
            ok = false;
            break;
        }
    }
    leave();
    if (gone) releaseAfterHangUp();
    return ok;
}
