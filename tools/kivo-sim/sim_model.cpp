#include "sim_model.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

// Longest integration step; the thermal time constants are over an hour, so fourth-order
// steps of this size are exact to far below the reported digits.
constexpr double kMaxStepSeconds = 5.0;

}  // namespace

SimModel::SimModel(std::uint32_t seed) {
    // The raw generator output is the same on every library; a distribution object is not.
    std::mt19937 rng(seed);
    for (double& i0 : m_i0) {
        const double milliamps = 30.0 + static_cast<double>(rng() % 19001) / 100.0;  // 30..220
        i0 = milliamps / 1000.0;
    }
    initialise();
}

void SimModel::setInitialCurrents(const std::array<double, kChannels>& milliamps) {
    for (int i = 0; i < kChannels; ++i) m_i0[i] = milliamps[i] / 1000.0;
}

void SimModel::initialise() {
    m_temp.fill(kAirCelsius);
    m_charge.fill(0.0);
    m_runSeconds = 0.0;
    m_running = false;
}

void SimModel::start() {
    if (m_durationMinutes > 0 && m_runSeconds >= durationSeconds()) return;
    m_running = true;
}

void SimModel::advance(double seconds) {
    if (!m_running || !(seconds > 0.0)) return;
    if (m_durationMinutes > 0) {
        const double left = durationSeconds() - m_runSeconds;
        if (seconds >= left) {
            pass(left);
            m_runSeconds = durationSeconds();  // exact, so the minute count lands on it
            m_running = false;
            return;
        }
    }
    pass(seconds);
    m_runSeconds += seconds;
}

void SimModel::pass(double seconds) {
    if (!m_heating) {
        integrate(seconds);
        return;
    }
    // The step is cut where the heater comes on, so how time is sliced does not matter.
    const double unheated = std::clamp(heatStartSeconds() - m_runSeconds, 0.0, seconds);
    integrate(unheated);
    integrateHeated(seconds - unheated);
}

void SimModel::integrateHeated(double seconds) {
    if (!(seconds > 0.0)) return;
    const double rate = m_heating->celsiusPerMinute / 60.0;  // per second
    const double ceiling = m_heating->ceilingCelsius;
    for (int i = 0; i < kChannels; ++i) {
        // The temperature is a ramp that flattens at the ceiling; the current is linear in
        // the temperature, so the charge of each piece is its length times the current at
        // the piece's mean temperature.
        double t = m_temp[i];
        double left = seconds;
        if (t < ceiling) {
            const double ramp = std::min(left, (ceiling - t) / rate);
            const double end = ramp == left ? t + rate * ramp : ceiling;
            m_charge[i] += ramp * currentAmps(i, (t + end) / 2.0);
            t = end;
            left -= ramp;
        }
        m_charge[i] += left * currentAmps(i, t);
        m_temp[i] = t;
    }
}

void SimModel::integrate(double seconds) {
    if (!(seconds > 0.0)) return;
    const int steps = static_cast<int>(std::ceil(seconds / kMaxStepSeconds));
    const double h = seconds / steps;
    for (int i = 0; i < kChannels; ++i) {
        // State (T, Q): dT/dt = (V*I(T) - k*(T - Tair)) / C, dQ/dt = I(T); classic RK4.
        auto dT = [&](double t) {
            return (kVolts * currentAmps(i, t) - kHeatLoss * (t - kAirCelsius)) / kHeatCapacity;
        };
        double t = m_temp[i];
        double q = m_charge[i];
        for (int s = 0; s < steps; ++s) {
            const double k1 = dT(t), q1 = currentAmps(i, t);
            const double t2 = t + h / 2 * k1;
            const double k2 = dT(t2), q2 = currentAmps(i, t2);
            const double t3 = t + h / 2 * k2;
            const double k3 = dT(t3), q3 = currentAmps(i, t3);
            const double t4 = t + h * k3;
            const double k4 = dT(t4), q4 = currentAmps(i, t4);
            t += h / 6 * (k1 + 2 * k2 + 2 * k3 + k4);
            q += h / 6 * (q1 + 2 * q2 + 2 * q3 + q4);
        }
        m_temp[i] = t;
        m_charge[i] = q;
    }
}

double SimModel::currentAmps(int i, double temp) const {
    return std::max(0.0, m_i0[i] * (1.0 + kCurrentPerKelvin * (temp - kAirCelsius)));
}

std::uint32_t SimModel::minutes() const {
    // A hair of slack so that a run of exactly n minutes built from small steps reads n.
    return static_cast<std::uint32_t>(std::floor(m_runSeconds / 60.0 + 1e-9));
}

double SimModel::currentMilliamps(int channel) const {
    return currentAmps(index(channel), m_temp[index(channel)]) * 1000.0;
}

double SimModel::meanTemperature() const {
    double sum = 0.0;
    for (double t : m_temp) sum += t;
    return sum / kChannels;
}
