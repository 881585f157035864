#include "lab/session_store.h"

#include <sodium.h>

#include <algorithm>

namespace lab {

std::string SessionStore::open(const QString& user, qint64 nowMs, const QString& hash) {
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    char hex[2 * sizeof bytes + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    const std::string id(hex);
    std::lock_guard lock(m_mutex);
    if (m_sessions.size() >= m_max) {
        // Those that ended go first; failing that, the one that ends soonest.
        std::erase_if(m_sessions, [&](const auto& s) { return s.second.endsMs <= nowMs; });
        if (m_sessions.size() >= m_max)
            m_sessions.erase(std::min_element(
                m_sessions.begin(), m_sessions.end(),
                [](const auto& a, const auto& b) { return a.second.endsMs < b.second.endsMs; }));
    }
    m_sessions[id] = {user, nowMs + m_lifetimeMs, hash};
    return id;
}

std::optional<QString> SessionStore::user(const std::string& id, qint64 nowMs) {
    std::lock_guard lock(m_mutex);
    const auto found = m_sessions.find(id);
    if (found == m_sessions.end()) return std::nullopt;
    if (found->second.endsMs <= nowMs) {
        m_sessions.erase(found);
        return std::nullopt;
    }
    return found->second.user;
}

QString SessionStore::hash(const std::string& id) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_sessions.find(id);
    return found == m_sessions.end() ? QString() : found->second.hash;
}

void SessionStore::close(const std::string& id) {
    std::lock_guard lock(m_mutex);
    m_sessions.erase(id);
}

size_t SessionStore::size() const {
    std::lock_guard lock(m_mutex);
    return m_sessions.size();
}

std::string CookieValue(const std::string& header, const std::string& name) {
    size_t at = 0;
    while (at < header.size()) {
        size_t end = header.find(';', at);
        if (end == std::string::npos) end = header.size();
        size_t first = header.find_first_not_of(' ', at);
        if (first < end) {
            const size_t equals = header.find('=', first);
            if (equals < end && header.compare(first, equals - first, name) == 0 &&
                equals - first == name.size())
                return header.substr(equals + 1, end - equals - 1);
        }
        at = end + 1;
    }
    return {};
}

}  // namespace lab
