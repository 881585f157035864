#include "pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

Pty::Pty() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0) throw std::runtime_error("no pty name");
    m_slavePath = name;
}

Pty::~Pty() { closeMaster(); }

void Pty::closeMaster() {
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
}

std::string Pty::read(std::size_t count, int timeoutMs) {
    std::string bytes;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count) {
        pollfd fd{m_master, POLLIN, 0};
        if (::poll(&fd, 1, msLeft(deadline)) <= 0) break;
        char buffer[4096];
        const ssize_t n = ::read(m_master, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (n > 0)
            bytes.append(buffer, static_cast<std::size_t>(n));
        else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            // EIO while no one holds the slave open: wait and look again.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (msLeft(deadline) == 0) break;
    }
    return bytes;
}

std::string Pty::readUntilQuiet(int quietMs) {
    std::string bytes;
    for (;;) {
        std::string more = read(1 << 20, quietMs);
        if (more.empty()) return bytes;
        bytes += more;
    }
}

void Pty::write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd fd{m_master, POLLOUT, 0};
            ::poll(&fd, 1, 10);
        } else {
            return;
        }
    }
}

ScriptedPeer::ScriptedPeer(Pty& pty, Script script)
    : m_pty(pty), m_script(std::move(script)), m_thread([this] { run(); }) {}

ScriptedPeer::~ScriptedPeer() { stop(); }

void ScriptedPeer::stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

std::vector<std::string> ScriptedPeer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int ScriptedPeer::count(const std::string& text) const {
    std::lock_guard lock(m_mutex);
    int n = 0;
    for (const auto& r : m_requests) n += r == text;
    return n;
}

void ScriptedPeer::run() {
    std::string frame;
    bool inFrame = false;
    while (!m_stop) {
        const std::string bytes = m_pty.read(256, 5);
        for (char c : bytes) {
            if (c == 'S' && !inFrame) {
                inFrame = true;
                frame.clear();
            } else if (c == 'E' && inFrame) {
                inFrame = false;
                int nth;
                {
                    std::lock_guard lock(m_mutex);
                    m_requests.push_back(frame);
                    nth = 0;
                    for (const auto& r : m_requests) nth += r == frame;
                }
                if (std::optional<std::string> reply = m_script(frame, nth))
                    m_pty.write(std::string(1, '\x04') + *reply + '\x05');
            } else if (inFrame) {
                frame.push_back(c);
            }
        }
    }
}

std::optional<std::string> ScriptedPeer::instrument(const std::string& text) {
    char reply[32];
    if (text == "00R030") return std::string("0030 0025.30");
    if (text == "00R031") return std::string("0031 0000012");
    if (text == "02R071") return std::string("0071 0000001");
    if (text.size() == 6 && text.compare(2, 4, "R010") == 0) {
        const int row = std::atoi(text.substr(0, 2).c_str()) - 10;
        std::snprintf(reply, sizeof reply, "%02d10 00%d%d.50", row, 1, row);
        return std::string(reply);
    }
    if (text.size() == 6 && text.compare(2, 4, "R060") == 0) {
        const int row = std::atoi(text.substr(0, 2).c_str()) - 10;
        std::snprintf(reply, sizeof reply, "%02d60 00%d%d.25", row, 2, row);
        return std::string(reply);
    }
    return std::nullopt;
}
