#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "instrument.h"
#include "reply_schedule.h"
#include "sim_model.h"

struct SimOptions {
    std::string linkPath;
    std::string logPath;
    std::uint32_t seed = 1;
    double speed = 1.0;
    std::uint32_t durationMinutes = 0;
    std::optional<SimModel::Heating> heating;
    bool silent = false;
    AnswerFaults answer;
    ReplyFaults reply;
    bool help = false;
};

struct ParsedOptions {
    SimOptions options;
    std::string error;  // empty when the command line was good
};

// The arguments after the program name.
ParsedOptions ParseSimOptions(const std::vector<std::string>& args);

std::string SimHelpText();
