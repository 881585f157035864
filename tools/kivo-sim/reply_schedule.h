#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <string_view>

// Faults on the way out: how replies reach the wire.
struct ReplyFaults {
    double lateMs = 0.0;        // each answer delayed
    double lateMaxMs = 0.0;     // above lateMs: the delay is drawn from lateMs to this
    bool split = false;         // each frame written in several small pieces
    bool garbage = false;       // random bytes written behind each frame
    bool brokenFrames = false;  // the start or the end byte of a frame left out
    // Unset: every reply gets every enabled fault (a frame is broken one time in four).
    // Set: with this probability a reply gets one enabled fault picked at random.
    std::optional<double> faultRate;
    bool lineTiming = false;  // bytes leave at the pace of a 9600-baud line
};

// Turns reply texts into timed pieces of output, with the faults applied. The caller writes
// each piece when it falls due; pieces always leave in the order their replies were queued.
class ReplySchedule {
  public:
    ReplySchedule(ReplyFaults faults, std::uint32_t seed);

    void queue(std::string_view text, double nowMs);
    bool empty() const { return m_pieces.empty(); }
    double nextDueMs() const;
    std::optional<std::string> popDue(double nowMs);
    // Drops everything not yet written.
    void clear() { m_pieces.clear(); }

  private:
    struct Choice {
        bool late = false, split = false, garbage = false, broken = false;
    };
    Choice choose();
    std::string garbageBytes();
    double lateDelayMs();
    void add(std::string bytes, double dueMs);

    struct Piece {
        double dueMs;
        std::string bytes;
    };
    ReplyFaults m_faults;
    std::mt19937 m_rng;
    std::deque<Piece> m_pieces;
    double m_lastDueMs = 0.0;
    double m_wireFreeMs = 0.0;
};
