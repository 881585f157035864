#include "archive/poll_backlog.h"

#include <utility>

namespace archive::writer {

bool PollBacklog::push(PollItem item, PollItem& dropped) {
    m_polls.push_back(std::move(item));
    if (m_polls.size() <= m_most) return false;
    dropped = std::move(m_polls.front());
    m_polls.pop_front();
    ++m_dropped;
    ++m_unsaid;
    return true;
}

std::vector<PollItem> PollBacklog::take(size_t count) {
    std::vector<PollItem> taken;
    while (!m_polls.empty() && taken.size() < count) {
        taken.push_back(std::move(m_polls.front()));
        m_polls.pop_front();
    }
    return taken;
}

void PollBacklog::putBack(std::vector<PollItem>& polls) {
    for (auto it = polls.rbegin(); it != polls.rend(); ++it) m_polls.push_front(std::move(*it));
    polls.clear();
}

qint64 PollBacklog::takeUnsaid() { return std::exchange(m_unsaid, 0); }

std::map<QString, int> PollBacklog::countsByTest() const {
    std::map<QString, int> counts;
    for (const PollItem& item : m_polls) ++counts[item.uid];
    return counts;
}

}  // namespace archive::writer
