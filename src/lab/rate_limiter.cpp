#include "lab/rate_limiter.h"

namespace lab {

void RateLimiter::forgetOld(qint64 nowMs) {
    // Bounded memory whatever the number of addresses: ended windows go.
    if (m_windows.size() < 4096) return;
    std::erase_if(m_windows, [&](const auto& w) { return nowMs - w.second.startMs >= m_windowMs; });
}

bool RateLimiter::take(const std::string& address, qint64 nowMs) {
    std::lock_guard lock(m_mutex);
    forgetOld(nowMs);
    Window& w = m_windows[address];
    if (w.count == 0 || nowMs - w.startMs >= m_windowMs) w = {nowMs, 0};
    if (w.count < m_allowed) {
        ++w.count;
        return true;
    }
    return false;
}

void RateLimiter::refund(const std::string& address) {
    std::lock_guard lock(m_mutex);
    const auto found = m_windows.find(address);
    if (found != m_windows.end() && found->second.count > 0) --found->second.count;
}

bool RateLimiter::refused(const std::string& address, qint64 nowMs) {
    std::lock_guard lock(m_mutex);
    const auto found = m_windows.find(address);
    if (found == m_windows.end()) return false;
    return nowMs - found->second.startMs < m_windowMs && found->second.count >= m_allowed;
}

}  // namespace lab
