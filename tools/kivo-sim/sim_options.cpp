#include "sim_options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace {

constexpr double kMaxSpeed = 1e6;
constexpr double kMaxLateMs = 600000.0;

std::optional<std::uint32_t> ParseCount(const std::string& text) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

std::optional<double> ParseReal(const std::string& text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace

ParsedOptions ParseSimOptions(const std::vector<std::string>& args) {
    ParsedOptions result;
    SimOptions& o = result.options;
    std::optional<double> silenceSeconds;
    std::optional<double> heatAfter, heatRate, heatCeiling;
    auto fail = [&](std::string message) {
        result.error = std::move(message);
        return result;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        auto flag = [&]() { return !inlineValue.has_value(); };
        std::string value;
        auto takeValue = [&]() {
            if (inlineValue) {
                value = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) return false;
            value = args[++i];
            return true;
        };
        const bool takesValue =
            name == "--link" || name == "--log" || name == "--seed" || name == "--speed" ||
            name == "--duration" || name == "--silent-address" || name == "--answer-on-repeat" ||
            name == "--late" || name == "--fault-rate" || name == "--silence-after-minutes" ||
            name == "--silence-for-seconds" || name == "--heat-after-minutes" ||
            name == "--heat-rate" || name == "--heat-ceiling";
        if (takesValue && !takeValue()) return fail(name + " needs a value");

        if (name == "--help" || name == "-h") {
            if (!flag()) return fail(name + " takes no value");
            o.help = true;
        } else if (name == "--link") {
            if (value.empty()) return fail("--link needs a path");
            o.linkPath = value;
        } else if (name == "--log") {
            if (value.empty()) return fail("--log needs a file name");
            o.logPath = value;
        } else if (name == "--seed") {
            const auto n = ParseCount(value);
            if (!n)
                return fail("--seed wants a whole number from 0 to 4294967295, not '" + value +
                            "'");
            o.seed = *n;
        } else if (name == "--speed") {
            const auto x = ParseReal(value);
            if (!x || !(*x > 0.0) || *x > kMaxSpeed)
                return fail("--speed wants a number above 0 and at most 1000000, not '" + value +
                            "'");
            o.speed = *x;
        } else if (name == "--duration") {
            const auto n = ParseCount(value);
            if (!n)
                return fail("--duration wants whole minutes (0 = never stop), not '" + value + "'");
            o.durationMinutes = *n;
        } else if (name == "--silent-address") {
            const auto n = ParseCount(value);
            if (value.size() != 2 || !n)
                return fail("--silent-address wants a two-digit address such as 12, not '" + value +
                            "'");
            o.answer.silentAddresses.insert(static_cast<int>(*n));
        } else if (name == "--answer-on-repeat") {
            const auto n = ParseCount(value);
            if (!n || *n == 0)
                return fail("--answer-on-repeat wants a count of 1 or more, not '" + value + "'");
            o.answer.answerOnRepeat = *n;
        } else if (name == "--late") {
            // MS, or MIN:MAX for a delay drawn anew for each late reply.
            const auto colon = value.find(':');
            const auto x = ParseReal(value.substr(0, colon));
            const auto y = colon == std::string::npos ? x : ParseReal(value.substr(colon + 1));
            if (!x || !y || *x < 0.0 || *y < *x || *y > kMaxLateMs)
                return fail("--late wants milliseconds from 0 to 600000, or MIN:MAX, not '" +
                            value + "'");
            o.reply.lateMs = *x;
            o.reply.lateMaxMs = *y;
        } else if (name == "--fault-rate") {
            const auto x = ParseReal(value);
            if (!x || *x < 0.0 || *x > 1.0)
                return fail("--fault-rate wants a probability from 0 to 1, not '" + value + "'");
            o.reply.faultRate = *x;
        } else if (name == "--silence-after-minutes") {
            const auto n = ParseCount(value);
            if (!n) return fail("--silence-after-minutes wants whole minutes, not '" + value + "'");
            o.answer.silenceAfterMinutes = *n;
        } else if (name == "--silence-for-seconds") {
            const auto x = ParseReal(value);
            if (!x || !(*x > 0.0) || *x > 86400.0)
                return fail("--silence-for-seconds wants seconds above 0 and at most 86400, not '" +
                            value + "'");
            silenceSeconds = *x;
        } else if (name == "--heat-after-minutes") {
            const auto x = ParseReal(value);
            if (!x || *x < 0.0 || *x > 1e6)
                return fail("--heat-after-minutes wants minutes from 0, not '" + value + "'");
            heatAfter = *x;
        } else if (name == "--heat-rate") {
            const auto x = ParseReal(value);
            if (!x || !(*x > 0.0) || *x > 100.0)
                return fail("--heat-rate wants degrees per minute above 0 and at most 100, not '" +
                            value + "'");
            heatRate = *x;
        } else if (name == "--heat-ceiling") {
            const auto x = ParseReal(value);
            if (!x || *x <= SimModel::kAirCelsius || *x > 200.0)
                return fail("--heat-ceiling wants degrees above 20 and at most 200, not '" + value +
                            "'");
            heatCeiling = *x;
        } else if (name == "--line-timing" || name == "--silent" || name == "--split" ||
                   name == "--garbage" || name == "--broken-frames") {
            if (!flag()) return fail(name + " takes no value");
            if (name == "--line-timing") o.reply.lineTiming = true;
            if (name == "--silent") o.silent = true;
            if (name == "--split") o.reply.split = true;
            if (name == "--garbage") o.reply.garbage = true;
            if (name == "--broken-frames") o.reply.brokenFrames = true;
        } else {
            return fail("unknown argument '" + args[i] + "' (see --help)");
        }
    }

    if (o.help) return result;
    if (o.linkPath.empty()) return fail("--link PATH is required (see --help)");
    if (o.answer.silenceAfterMinutes.has_value() != silenceSeconds.has_value())
        return fail("--silence-after-minutes and --silence-for-seconds go together");
    if (silenceSeconds) o.answer.silenceForMs = *silenceSeconds * 1000.0;
    if ((heatRate || heatCeiling) && !heatAfter)
        return fail("--heat-rate and --heat-ceiling need --heat-after-minutes");
    if (heatAfter) {
        SimModel::Heating heating;
        heating.afterMinutes = *heatAfter;
        if (heatRate) heating.celsiusPerMinute = *heatRate;
        if (heatCeiling) heating.ceilingCelsius = *heatCeiling;
        o.heating = heating;
    }
    return result;
}

std::string SimHelpText() {
    return R"(Usage: kivo-sim --link PATH [options]

A virtual flux tester on a pseudo-terminal. It links PATH to the terminal, prints PATH as its
first line, and answers the instrument's serial protocol until SIGINT or SIGTERM, which
remove the link, or until the process that started it ends (then it ends the same way).
Point the program's port at PATH (for example KIVO_COM1=PATH).

The model: six cells at 60 V with initial currents of 30 to 220 mA drawn from the seed; a
cell's current grows by 2 % per kelvin above 20 C, its heat (60 V x current) warms it
against a loss of 0.36 W/K with 1500 J/K of heat capacity, and its charge is the integral of
its current. Time passes only while the instrument runs; a stopped instrument holds its
readings. The temperature reply is the mean of all six cells. The minute count grows only
while running. "00W070 1111" resets everything, "01W071 1111" starts or resumes,
"00W071 0000" stops.

Options:
  --link PATH           path of the link to create (a stale link there is replaced)
  --seed N              seed of the initial currents and of the random faults (default 1)
  --speed X             run the model X times faster than the wall clock (default 1)
  --duration MIN        stop by itself when the minute count reaches MIN; a start is then
                        refused until "00W070 1111" (default 0 = never)
  --line-timing         take a request only when its last byte would have arrived at 9600
                        baud, and write replies a byte every 1.04 ms
  --log FILE            append a line per received request frame, even one left
                        unanswered: milliseconds since start, a tab, the decoded text
  --heat-after-minutes M
                        overheat the specimens: from minute M of the test on (model time,
                        fractions allowed), every cell's temperature climbs steadily by
                        --heat-rate until it reaches --heat-ceiling, and stays there; the
                        currents rise with it, and the temperature reply ("00R030", the
                        mean of the six cells, as "0090.00") shows it. Without this option
                        the cells only warm by their own current
  --heat-rate C         degrees Celsius per model minute of that climb (default 2)
  --heat-ceiling C      degrees Celsius where the climb stops (default 95)
  -h, --help            this text

Faults (any may be combined):
  --silent              answer nothing, as if the cable were pulled (requests are not acted
                        on either); SIGUSR1 toggles this silence, SIGUSR2 ends any silence
  --silent-address AA   never answer requests that begin with the address AA (repeatable)
  --answer-on-repeat N  answer a request only on its N-th consecutive send of the same text
  --late MS             delay each answer by MS milliseconds; MIN:MAX draws each delay
                        evenly from MIN to MAX milliseconds
  --split               write each reply frame in two to four pieces 2 ms apart
  --garbage             write 1 to 8 random bytes 3 ms behind each reply frame (never 0x04
                        or 0x05 unless --broken-frames is given too)
  --broken-frames       leave out the start or the end byte of a reply frame: of one
                        frame in four, or of each frame --fault-rate picks for it
  --fault-rate P        instead of giving every reply every fault above (late, split,
                        garbage, broken), give a reply one of them, picked at random, with
                        probability P (0 to 1)
  --silence-after-minutes M --silence-for-seconds S
                        once the minute count of a started test reaches M, fall silent
                        for S seconds of wall-clock time (once per run of kivo-sim)

Exit status: 0 after SIGINT or SIGTERM or --help, 2 on bad arguments, 1 when the
pseudo-terminal or the link cannot be made.
)";
}
