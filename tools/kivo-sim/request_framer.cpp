#include "request_framer.h"

std::vector<RequestFramer::Request> RequestFramer::feed(const char* bytes, std::size_t count) {
    std::vector<Request> done;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = bytes[i];
        if (c == 'S') {
            m_text.clear();
            m_inFrame = true;
        } else if (!m_inFrame) {
            continue;
        } else if (c == 'E') {
            done.push_back({m_text, i});
            m_text.clear();
            m_inFrame = false;
        } else if (m_text.size() >= kMaxText) {
            m_text.clear();
            m_inFrame = false;
        } else {
            m_text += (c >= ':' && c <= '?') ? static_cast<char>('a' + (c - ':')) : c;
        }
    }
    return done;
}
