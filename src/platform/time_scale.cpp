#include "platform/time_scale.h"

#include <atomic>
#include <cmath>
#include <cstdlib>

namespace TimeScale {
namespace {

double fromEnvironment() {
    const char* text = std::getenv("KIVO_TIME_SCALE");
    if (text == nullptr) return 1.0;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || !(value >= 1.0) || !std::isfinite(value)) return 1.0;
    return value;
}

std::atomic<double>& stored() {
    static std::atomic<double> value(fromEnvironment());
    return value;
}

}  // namespace

double factor() { return stored().load(); }

void setFactor(double value) { stored().store(value >= 1.0 ? value : 1.0); }

int wallMs(int ms) {
    if (ms <= 0) return ms;
    double scaled = ms / factor();
    return scaled < 1.0 ? 1 : static_cast<int>(std::lround(scaled));
}

}  // namespace TimeScale
