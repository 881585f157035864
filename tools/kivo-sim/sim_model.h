#pragma once

#include <array>
#include <cstdint>
#include <optional>

// Physical model of the six specimen cells of a running test. Each cell carries 60 V; its
// current rises with its temperature, the electrical power warms it against the loss to the
// surrounding air, and the charge is the time integral of the current. Time only passes while
// the instrument runs: a stopped instrument holds its readings.
class SimModel {
  public:
    static constexpr int kChannels = 6;
    static constexpr double kVolts = 60.0;
    static constexpr double kHeatCapacity = 1500.0;  // J/K of one cell with its specimen
    static constexpr double kHeatLoss = 0.36;        // W/K from the cell to the air
    static constexpr double kCurrentPerKelvin = 0.02;
    static constexpr double kAirCelsius = 20.0;

    // Draws each cell's initial current from a random generator seeded with `seed`.
    explicit SimModel(std::uint32_t seed);

    // Initial currents in milliamperes, channel 1 first (tests pin them).
    void setInitialCurrents(const std::array<double, kChannels>& milliamps);
    double initialCurrent(int channel) const { return m_i0[index(channel)] * 1000.0; }

    // 0 means the instrument never stops by itself.
    void setDurationMinutes(std::uint32_t minutes) { m_durationMinutes = minutes; }

    // A heater that overheats the specimens: from run minute `afterMinutes` on, every cell's
    // temperature climbs steadily at `celsiusPerMinute` (model time) until it reaches
    // `ceilingCelsius`, where it stays; a cell already at or above the ceiling keeps its
    // temperature. The currents follow the temperature as always.
    struct Heating {
        double afterMinutes = 0.0;
        double celsiusPerMinute = 2.0;
        double ceilingCelsius = 95.0;
    };
    void setHeating(std::optional<Heating> heating) { m_heating = heating; }

    // Back to the state before a test: no minutes, no charge, cells at air temperature,
    // not running.
    void initialise();
    // Starts or resumes; refused once the duration has been reached (until initialised).
    void start();
    void stop() { m_running = false; }

    // Lets `seconds` of model time pass; stops by itself when the duration is reached.
    void advance(double seconds);

    bool running() const { return m_running; }
    double runSeconds() const { return m_runSeconds; }
    std::uint32_t minutes() const;
    double currentMilliamps(int channel) const;
    double chargeCoulombs(int channel) const { return m_charge[index(channel)]; }
    double temperature(int channel) const { return m_temp[index(channel)]; }
    double meanTemperature() const;

  private:
    static int index(int channel) { return channel - 1; }
    double currentAmps(int i, double temp) const;
    double durationSeconds() const { return m_durationMinutes * 60.0; }
    // Lets running time pass: the cells' own warming, then the heater's from its minute on.
    void pass(double seconds);
    void integrate(double seconds);
    void integrateHeated(double seconds);
    double heatStartSeconds() const { return m_heating->afterMinutes * 60.0; }

    std::array<double, kChannels> m_i0{};  // amperes at air temperature
    std::array<double, kChannels> m_temp{};
    std::array<double, kChannels> m_charge{};
    double m_runSeconds = 0.0;
    std::uint32_t m_durationMinutes = 0;
    bool m_running = false;
    std::optional<Heating> m_heating;
};
