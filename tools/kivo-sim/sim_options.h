#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "instrument.h"
#include "reply_schedule.h"

struct SimOptions {
    std::string linkPath;
    std::string logPath;
    std::uint32_t seed = 1;
    double speed = 1.0;
    std::uint32_t durationMinutes = 0;
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
