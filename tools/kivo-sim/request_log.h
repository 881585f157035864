#pragma once

#include <string>
#include <string_view>

// One line per received request: milliseconds since start, a tab, the decoded text. Each
// line goes out in a single write, so a reader never sees half of one.
class RequestLog {
  public:
    RequestLog() = default;
    ~RequestLog();
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    bool open(const std::string& path, std::string& error);
    void write(double elapsedMs, std::string_view text);

  private:
    int m_fd = -1;
};

std::string RequestLogLine(double elapsedMs, std::string_view text);
