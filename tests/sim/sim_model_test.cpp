#include "sim_model.h"

#include <gtest/gtest.h>

namespace {

constexpr double kSixHours = 6 * 3600.0;

// Runs a model whose six cells all start at `milliamps` for `seconds`, in steps of `step`.
SimModel RunAll(double milliamps, double seconds, double step = 2.0) {
    SimModel model(1);
    model.setInitialCurrents({milliamps, milliamps, milliamps, milliamps, milliamps, milliamps});
    model.start();
    for (double t = 0; t < seconds; t += step) model.advance(step);
    return model;
}

TEST(SimModelTest, SixHourTestsGiveBenchFigures) {
    const SimModel typical = RunAll(136.0, kSixHours);
    EXPECT_NEAR(typical.chargeCoulombs(1), 4550.0, 4550.0 * 0.02);

    const SimModel low = RunAll(46.0, kSixHours);
    EXPECT_NEAR(low.chargeCoulombs(3), 1130.0, 1130.0 * 0.02);
    EXPECT_GT(low.temperature(3), 28.0);
    EXPECT_LT(low.temperature(3), 32.0);

    // A high-flux specimen warms far more, and its current climbs with it.
    const SimModel high = RunAll(184.0, kSixHours);
    EXPECT_GT(high.chargeCoulombs(6), 7000.0);
    EXPECT_LT(high.chargeCoulombs(6), 7800.0);
    EXPECT_GT(high.currentMilliamps(6), 184.0 * 1.5);
    EXPECT_NEAR(high.meanTemperature(), high.temperature(1), 1e-9);
    EXPECT_EQ(high.minutes(), 360u);
}

TEST(SimModelTest, ResultDoesNotDependOnHowTimeIsSliced) {
    // A fast demo advances the model in big leaps; a slow one in small steps.
    const SimModel fine = RunAll(136.0, kSixHours, 0.5);
    const SimModel coarse = RunAll(136.0, kSixHours, kSixHours);
    EXPECT_NEAR(fine.chargeCoulombs(1), coarse.chargeCoulombs(1), 0.05);
    EXPECT_NEAR(fine.temperature(1), coarse.temperature(1), 0.01);
}

TEST(SimModelTest, TimePassesOnlyWhileRunning) {
    SimModel model(1);
    EXPECT_DOUBLE_EQ(model.meanTemperature(), SimModel::kAirCelsius);
    model.advance(600.0);  // before the start
    EXPECT_EQ(model.minutes(), 0u);
    EXPECT_EQ(model.chargeCoulombs(1), 0.0);

    model.start();
    model.advance(150.0);
    EXPECT_EQ(model.minutes(), 2u);
    const double charge = model.chargeCoulombs(1);
    const double temp = model.temperature(1);
    EXPECT_GT(charge, 0.0);

    model.stop();
    model.advance(3600.0);  // a pause holds every reading
    EXPECT_EQ(model.minutes(), 2u);
    EXPECT_EQ(model.chargeCoulombs(1), charge);
    EXPECT_EQ(model.temperature(1), temp);

    model.start();  // and a resumption goes on from there
    model.advance(30.0);
    EXPECT_EQ(model.minutes(), 3u);
    EXPECT_GT(model.chargeCoulombs(1), charge);
}

TEST(SimModelTest, StopsByItselfAtTheDurationUntilInitialised) {
    SimModel model(1);
    model.setDurationMinutes(5);
    model.start();
    for (int i = 0; i < 7; ++i) model.advance(59.9);  // overshoots 300 s within a step
    EXPECT_FALSE(model.running());
    EXPECT_EQ(model.minutes(), 5u);
    EXPECT_DOUBLE_EQ(model.runSeconds(), 300.0);
    const double charge = model.chargeCoulombs(2);

    model.start();  // refused: the run is complete
    model.advance(120.0);
    EXPECT_FALSE(model.running());
    EXPECT_EQ(model.minutes(), 5u);
    EXPECT_EQ(model.chargeCoulombs(2), charge);

    model.initialise();
    EXPECT_EQ(model.minutes(), 0u);
    EXPECT_EQ(model.chargeCoulombs(2), 0.0);
    EXPECT_DOUBLE_EQ(model.temperature(2), 20.0);
    model.start();
    EXPECT_TRUE(model.running());
}

TEST(SimModelTest, SeedDecidesTheInitialCurrents) {
    const SimModel a(1), b(1), c(2);
    bool differs = false;
    for (int ch = 1; ch <= SimModel::kChannels; ++ch) {
        EXPECT_EQ(a.initialCurrent(ch), b.initialCurrent(ch));
        EXPECT_GE(a.initialCurrent(ch), 30.0);
        EXPECT_LE(a.initialCurrent(ch), 220.0);
        differs = differs || a.initialCurrent(ch) != c.initialCurrent(ch);
    }
    EXPECT_TRUE(differs);
}

// A model that overheats from minute 10 on at 2 C a minute up to 95 C.
SimModel Heated(double afterMinutes = 10.0) {
    SimModel model(1);
    model.setInitialCurrents({100, 110, 120, 130, 140, 150});
    model.setHeating(SimModel::Heating{afterMinutes, 2.0, 95.0});
    return model;
}

TEST(SimModelTest, HeaterClimbsAtItsRateToTheCeilingAndHoldsThere) {
    SimModel plain(1);
    plain.setInitialCurrents({100, 110, 120, 130, 140, 150});
    SimModel model = Heated();
    plain.start();
    model.start();
    plain.advance(600.0);
    model.advance(600.0);
    // Before the heater's minute the model is the one without a heater.
    EXPECT_DOUBLE_EQ(model.temperature(3), plain.temperature(3));
    EXPECT_DOUBLE_EQ(model.chargeCoulombs(3), plain.chargeCoulombs(3));
    const double oneAtTen = model.temperature(1);
    const double meanAtTen = model.meanTemperature();

    // Every cell climbs by the rate, from where its own current had taken it.
    model.advance(5 * 60.0);
    EXPECT_NEAR(model.temperature(1), oneAtTen + 10.0, 1e-9);
    EXPECT_NEAR(model.meanTemperature(), meanAtTen + 10.0, 1e-9);
    // The current follows the temperature: 2 % a kelvin above the air.
    EXPECT_NEAR(model.currentMilliamps(1), 100.0 * (1 + 0.02 * (oneAtTen + 10.0 - 20.0)), 1e-9);

    // The mean, which the instrument reports, passes 90 C when the rate says; the climb
    // stops at 95 C.
    const double minutesTo90 = (90.0 - meanAtTen) / 2.0;
    model.advance((minutesTo90 - 5.0) * 60.0 - 1.0);
    EXPECT_LT(model.meanTemperature(), 90.0);
    model.advance(2.0);
    EXPECT_GE(model.meanTemperature(), 90.0);
    model.advance(3600.0);
    for (int ch = 1; ch <= SimModel::kChannels; ++ch)
        EXPECT_DOUBLE_EQ(model.temperature(ch), 95.0) << ch;

    // A pause holds the temperature; a new test starts cool and heats again at its minute.
    model.stop();
    model.advance(600.0);
    EXPECT_DOUBLE_EQ(model.meanTemperature(), 95.0);
    model.initialise();
    model.start();
    model.advance(600.0);
    EXPECT_DOUBLE_EQ(model.temperature(3), plain.temperature(3));
}

TEST(SimModelTest, HeatedChargeDoesNotDependOnHowTimeIsSliced) {
    SimModel fine = Heated(7.5), coarse = Heated(7.5);
    fine.start();
    coarse.start();
    for (double t = 0; t < 7200.0; t += 2.0) fine.advance(2.0);
    coarse.advance(7200.0);
    for (int ch = 1; ch <= SimModel::kChannels; ++ch) {
        EXPECT_NEAR(fine.chargeCoulombs(ch), coarse.chargeCoulombs(ch), 0.05) << ch;
        EXPECT_NEAR(fine.temperature(ch), coarse.temperature(ch), 1e-6) << ch;
    }
    // The charge over the hot hours is well above that of an unheated test.
    SimModel plain(1);
    plain.setInitialCurrents({100, 110, 120, 130, 140, 150});
    plain.start();
    plain.advance(7200.0);
    EXPECT_GT(fine.chargeCoulombs(1), 1.5 * plain.chargeCoulombs(1));
}

}  // namespace
