#pragma once

#include <algorithm>
#include <cstddef>

// One byte on a 9600-baud line: start bit, eight data bits, stop bit.
inline constexpr double kLineByteMs = 10.0 * 1000.0 / 9600.0;

// When the bytes of a block would have finished arriving over a 9600-baud line. The program
// hands a whole frame to the pseudo-terminal at once; the real line delivers it a byte at a
// time, and blocks queue up behind each other on it.
class InputWire {
  public:
    explicit InputWire(bool paced) : m_paced(paced) {}

    // A block of `count` bytes read at nowMs.
    void receive(std::size_t count, double nowMs) {
        m_startMs = m_paced ? std::max(nowMs, m_freeMs) : nowMs;
        if (m_paced) m_freeMs = m_startMs + count * kLineByteMs;
    }
    // Time at which byte `index` of the last block had arrived completely.
    double arrival(std::size_t index) const {
        return m_paced ? m_startMs + (index + 1) * kLineByteMs : m_startMs;
    }

  private:
    bool m_paced;
    double m_startMs = 0.0;
    double m_freeMs = 0.0;
};
