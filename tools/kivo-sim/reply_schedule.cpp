#include "reply_schedule.h"

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "line_timing.h"
#include "reply_text.h"

namespace {

constexpr double kSplitPauseMs = 2.0;
constexpr double kGarbagePauseMs = 3.0;

}  // namespace

ReplySchedule::ReplySchedule(ReplyFaults faults, std::uint32_t seed)
    : m_faults(std::move(faults)), m_rng(seed ^ 0x5eed5eedu) {}

ReplySchedule::Choice ReplySchedule::choose() {
    Choice c;
    if (!m_faults.faultRate) {
        c.late = m_faults.lateMs > 0.0 || m_faults.lateMaxMs > 0.0;
        c.split = m_faults.split;
        c.garbage = m_faults.garbage;
        // Breaking every frame would be silence by another name.
        c.broken = m_faults.brokenFrames && m_rng() % 4 == 0;
        return c;
    }
    std::vector<bool Choice::*> enabled;
    if (m_faults.lateMs > 0.0 || m_faults.lateMaxMs > 0.0) enabled.push_back(&Choice::late);
    if (m_faults.split) enabled.push_back(&Choice::split);
    if (m_faults.garbage) enabled.push_back(&Choice::garbage);
    if (m_faults.brokenFrames) enabled.push_back(&Choice::broken);
    if (enabled.empty()) return c;
    // 2^-32 resolution is plenty for a rate.
    const double draw = static_cast<double>(m_rng()) / 4294967296.0;
    if (draw < *m_faults.faultRate) c.*enabled[m_rng() % enabled.size()] = true;
    return c;
}

std::string ReplySchedule::garbageBytes() {
    std::string bytes(1 + m_rng() % 8, '\0');
    for (char& b : bytes) {
        do {
            b = static_cast<char>(m_rng() & 0xff);
        } while (!m_faults.brokenFrames && (b == kReplyStart || b == kReplyEnd));
    }
    return bytes;
}

double ReplySchedule::lateDelayMs() {
    if (!(m_faults.lateMaxMs > m_faults.lateMs)) return m_faults.lateMs;
    const double draw = static_cast<double>(m_rng()) / 4294967296.0;
    return m_faults.lateMs + draw * (m_faults.lateMaxMs - m_faults.lateMs);
}

void ReplySchedule::queue(std::string_view text, double nowMs) {
    const Choice c = choose();
    std::string frame = ReplyFrame(text);
    if (c.broken) {
        if (m_rng() % 2)
            frame.erase(0, 1);
        else
            frame.pop_back();
    }
    double due = nowMs + (c.late ? lateDelayMs() : 0.0);
    if (c.split && frame.size() >= 2) {
        // Two to four pieces, each at least one byte, cut at random places.
        const std::size_t pieces = std::min<std::size_t>(2 + m_rng() % 3, frame.size());
        std::vector<std::size_t> cuts;
        while (cuts.size() < pieces - 1) {
            const std::size_t cut = 1 + m_rng() % (frame.size() - 1);
            if (std::find(cuts.begin(), cuts.end(), cut) == cuts.end()) cuts.push_back(cut);
        }
        std::sort(cuts.begin(), cuts.end());
        std::size_t from = 0;
        for (std::size_t cut : cuts) {
            add(frame.substr(from, cut - from), due);
            due += kSplitPauseMs;
            from = cut;
        }
        add(frame.substr(from), due);
    } else {
        add(frame, due);
    }
    if (c.garbage) add(garbageBytes(), due + kGarbagePauseMs);
}

void ReplySchedule::add(std::string bytes, double dueMs) {
    if (bytes.empty()) return;
    if (!m_faults.lineTiming) {
        m_lastDueMs = std::max(m_lastDueMs, dueMs);
        m_pieces.push_back({m_lastDueMs, std::move(bytes)});
        return;
    }
    // Each byte is handed over once it would have been shifted out completely.
    double start = std::max(dueMs, m_wireFreeMs);
    for (char b : bytes) {
        start += kLineByteMs;
        m_pieces.push_back({start, std::string(1, b)});
    }
    m_wireFreeMs = start;
}

double ReplySchedule::nextDueMs() const {
    return m_pieces.empty() ? std::numeric_limits<double>::infinity() : m_pieces.front().dueMs;
}

std::optional<std::string> ReplySchedule::popDue(double nowMs) {
    if (m_pieces.empty() || m_pieces.front().dueMs > nowMs) return std::nullopt;
    std::string bytes = std::move(m_pieces.front().bytes);
    m_pieces.pop_front();
    return bytes;
}
