#include "instrument.h"

#include <utility>

#include "reply_text.h"

namespace {

constexpr int kFirstChannelAddress = 10;

// The two leading digits of a request, or -1.
int AddressOf(std::string_view command) {
    if (command.size() < 2) return -1;
    const char a = command[0], b = command[1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
    return (a - '0') * 10 + (b - '0');
}

}  // namespace

Instrument::Instrument(SimModel& model, AnswerFaults faults)
    : m_model(model), m_faults(std::move(faults)) {
    if (m_faults.answerOnRepeat == 0) m_faults.answerOnRepeat = 1;
}

void Instrument::resume() {
    m_silent = false;
    m_stretchEndMs = -1.0;
}

void Instrument::tick(double wallMs) {
    if (m_stretchDone || !m_faults.silenceAfterMinutes) return;
    const bool underway = m_model.running() || m_model.runSeconds() > 0.0;
    if (underway && m_model.minutes() >= *m_faults.silenceAfterMinutes) {
        m_stretchDone = true;
        m_stretchEndMs = wallMs + m_faults.silenceForMs;
    }
}

std::optional<std::string> Instrument::handle(std::string_view command, double wallMs) {
    tick(wallMs);
    if (silentAt(wallMs)) return std::nullopt;
    if (act(command)) return std::nullopt;
    std::optional<std::string> reply = answer(command);
    if (!reply) return std::nullopt;
    if (m_faults.silentAddresses.count(AddressOf(command))) return std::nullopt;
    if (!passesRepeat(command)) return std::nullopt;
    return reply;
}

bool Instrument::act(std::string_view command) {
    if (command == "00W070 1111") {
        m_model.initialise();
    } else if (command == "01W071 1111") {
        m_model.start();
    } else if (command == "00W071 0000") {
        m_model.stop();
    } else {
        return false;
    }
    return true;
}

std::optional<std::string> Instrument::answer(std::string_view command) const {
    if (command == "00R030") return ReplyText(0, "30", FormatReading(m_model.meanTemperature()));
    if (command == "00R031") return ReplyText(0, "31", FormatCount(m_model.minutes()));
    if (command == "02R071") return ReplyText(0, "71", m_model.running() ? "0000001" : "0000000");
    if (command.size() != 6) return std::nullopt;
    const int address = AddressOf(command);
    const int channel = address - kFirstChannelAddress + 1;
    if (channel < 1 || channel > SimModel::kChannels) return std::nullopt;
    const int row = channel - 1;
    const std::string_view what = command.substr(2);
    if (what == "R010")
        return ReplyText(row, "10", FormatReading(m_model.currentMilliamps(channel)));
    if (what == "R060") return ReplyText(row, "60", FormatReading(m_model.chargeCoulombs(channel)));
    return std::nullopt;
}

bool Instrument::passesRepeat(std::string_view command) {
    if (command == m_lastRequest) {
        ++m_sends;
    } else {
        m_lastRequest = command;
        m_sends = 1;
    }
    if (m_sends < m_faults.answerOnRepeat) return false;
    m_sends = 0;
    return true;
}
