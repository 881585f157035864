#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "sim_model.h"

// Faults that decide whether the instrument answers at all.
struct AnswerFaults {
    std::set<int> silentAddresses;     // requests beginning with one of these are never answered
    std::uint32_t answerOnRepeat = 1;  // answer only the n-th consecutive send of a request
    std::optional<std::uint32_t> silenceAfterMinutes;  // once, when the minute count gets there
    double silenceForMs = 0.0;                         // ... silent for this long (wall clock)
};

// The instrument's command handling: acts on the write commands and answers the read requests
// from the model. While silent it behaves as if the cable were pulled: requests are neither
// answered nor acted on.
class Instrument {
  public:
    Instrument(SimModel& model, AnswerFaults faults);

    void setSilent(bool silent) { m_silent = silent; }
    void toggleSilent() { m_silent = !m_silent; }
    // Ends silence of any kind, the silent stretch included.
    void resume();
    bool silentAt(double wallMs) const { return m_silent || wallMs < m_stretchEndMs; }

    // Called as time passes: begins the silent stretch when the minute count has reached it.
    void tick(double wallMs);

    // The twelve reply characters for a read request, or nothing (write commands, unknown
    // requests and suppressed answers).
    std::optional<std::string> handle(std::string_view command, double wallMs);

  private:
    std::optional<std::string> answer(std::string_view command) const;
    bool act(std::string_view command);
    bool passesRepeat(std::string_view command);

    SimModel& m_model;
    AnswerFaults m_faults;
    bool m_silent = false;
    bool m_stretchDone = false;
    double m_stretchEndMs = -1.0;
    std::string m_lastRequest;
    std::uint32_t m_sends = 0;
};
