#pragma once

#include <QtGlobal>
#include <map>
#include <mutex>
#include <string>

// Counts what each client address does in a fixed window (a minute, an hour) and says when
// one has done it too often. Any thread.
namespace lab {

class RateLimiter {
  public:
    RateLimiter(int allowed, qint64 windowMs) : m_allowed(allowed), m_windowMs(windowMs) {}

    // Counts one more for `address` at `nowMs`; false when that is more than allowed in its
    // window (the window then runs on: a client that keeps trying stays refused until it ends).
    bool take(const std::string& address, qint64 nowMs);
    // Takes back one counted for `address` (an attempt that turned out to be allowed).
    void refund(const std::string& address);
    // Whether `address` is refused now, without counting.
    bool refused(const std::string& address, qint64 nowMs);

  private:
    struct Window {
        qint64 startMs = 0;
        int count = 0;
    };
    std::mutex m_mutex;
    std::map<std::string, Window> m_windows;
    int m_allowed;
    qint64 m_windowMs;
    void forgetOld(qint64 nowMs);
};

}  // namespace lab
