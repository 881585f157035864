#pragma once

#include <QtGlobal>
#include <deque>
#include <map>
#include <vector>

#include "archive/writer_items.h"

// The polls waiting for the archive, oldest first. It is bounded: past `most` waiting polls
// (a stall of a day or more) the oldest is dropped and counted, so that memory stays bounded
// and the operator can be told how many were lost. Records and state changes never wait here.
namespace archive::writer {

class PollBacklog {
  public:
    explicit PollBacklog(size_t most) : m_most(most) {}

    // Adds a poll; a poll dropped to make room is moved into `dropped` (to be freed by the
    // caller outside its lock). True when a poll was dropped.
    bool push(PollItem item, PollItem& dropped);
    // Takes up to `count` of the oldest polls.
    std::vector<PollItem> take(size_t count);
    // Puts polls taken but not written back in front, in their order.
    void putBack(std::vector<PollItem>& polls);
    void clear() { m_polls.clear(); }

    bool empty() const { return m_polls.empty(); }
    size_t size() const { return m_polls.size(); }
    const PollItem& front() const { return m_polls.front(); }
    // How many wait for each test.
    std::map<QString, int> countsByTest() const;

    // Every poll dropped so far.
    qint64 dropped() const { return m_dropped; }
    // Those not yet named to the operator; naming them resets the count.
    qint64 takeUnsaid();
    // Polls lost elsewhere (a rewrite that could not go back far enough) named with them.
    void addUnsaid(qint64 count) { m_unsaid += count; }

  private:
    std::deque<PollItem> m_polls;
    size_t m_most;
    qint64 m_dropped = 0;
    qint64 m_unsaid = 0;
};

}  // namespace archive::writer
