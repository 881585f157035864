#include "request_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

RequestLog::~RequestLog() {
    if (m_fd >= 0) ::close(m_fd);
}

bool RequestLog::open(const std::string& path, std::string& error) {
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        error = "cannot open the log " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void RequestLog::write(double elapsedMs, std::string_view text) {
    if (m_fd < 0) return;
    const std::string line = RequestLogLine(elapsedMs, text);
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(m_fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a full disk must not stop the instrument
        done += static_cast<std::size_t>(n);
    }
}

std::string RequestLogLine(double elapsedMs, std::string_view text) {
    std::string line = std::to_string(std::llround(elapsedMs < 0.0 ? 0.0 : elapsedMs));
    line += '\t';
    // The text is the program's bytes; keep the log one line per request whatever they are.
    for (char c : text) line += (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
    line += '\n';
    return line;
}
