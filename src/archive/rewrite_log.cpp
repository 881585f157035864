#include "archive/rewrite_log.h"

#include <algorithm>

namespace archive::writer {
namespace {

// The most polls one transaction writes.
constexpr size_t kPollsAtOnce = 500;

}  // namespace

void RewriteLog::committed(const OtherItem& item) {
    switch (item.kind) {
        case OtherItem::Kind::Begin:
            m_tests[item.uid].header = item.header;
            return;
        case OtherItem::Kind::Resume: {
            TestLog& log = m_tests[item.uid];
            log = TestLog();
            log.header = std::make_shared<const TestHeader>(item.resumed->header);
            log.states = item.resumed->states;
            for (const RecordRow& record : item.resumed->records)
                log.records[record.number] = record;
            log.pollsBefore = item.pollsInArchive;
            return;
        }
        case OtherItem::Kind::State:
        case OtherItem::Kind::Record:
            break;
    }
    const auto log = m_tests.find(item.uid);
    if (log == m_tests.end()) return;
    if (item.kind == OtherItem::Kind::State)
        log->second.states.push_back({item.state, item.atMs});
    else
        log->second.records[item.record->number] = *item.record;
}

void RewriteLog::committed(std::vector<PollItem>& polls) {
    for (PollItem& item : polls) {
        const auto found = m_tests.find(item.uid);
        if (found == m_tests.end()) continue;
        TestLog& log = found->second;
        log.polls.push_back(std::move(item.row));
        if (log.polls.size() > m_mostPolls) {
            log.polls.pop_front();
            ++log.pollsBefore;
        }
    }
}

qint64 RewriteLog::complete(TestWrites& writes) {
    qint64 lost = 0;
    for (auto& [uid, log] : m_tests) {
        if (!log.header) continue;
        std::optional<TestWrites::Counts> held = writes.counts(uid);
        if (!held) {
            // A new archive: the test is written anew from its beginning, as far as it is kept.
            writes.beginTest(*log.header);
            held = TestWrites::Counts();
            lost += log.pollsBefore;
            log.pollsBefore = 0;
        }
        // State changes and polls are appended in their order, so the archive holds the first
        // of them; records are written by their number, so writing them again is harmless.
        for (size_t n = size_t(std::max<qint64>(held->states, 0)); n < log.states.size(); ++n)
            writes.changeState(uid, log.states[n].state, log.states[n].atMs);
        if (held->records < qint64(log.records.size()))
            for (const auto& [number, record] : log.records) writes.addRecord(uid, record);
        if (held->polls < log.pollsBefore) {
            lost += log.pollsBefore - held->polls;
            log.pollsBefore = held->polls;
        }
        size_t next = size_t(held->polls - log.pollsBefore);
        while (next < log.polls.size()) {
            std::vector<std::pair<QString, const PollRow*>> rows;
            for (; next < log.polls.size() && rows.size() < kPollsAtOnce; ++next)
                rows.emplace_back(uid, &log.polls[next]);
            writes.addPolls(rows);
        }
    }
    return lost;
}

}  // namespace archive::writer
