#pragma once

#include <QString>
#include <optional>

class Testclass;

// The specimen temperature while a test runs. The solution must not come near boiling: two
// readings in a row at or above 90.0 ℃ pause the test as "暂停" does and say so. One hot
// reading alone does not, so that a single garbled reply cannot stop a test.

// The temperature as the form shows it ("20.5", ".5"), or nothing for a text that is not a
// plain decimal number.
std::optional<double> TemperatureCelsius(const QString& text);

// Counts the hot readings of a running test in a row; a reading below the limit, or a text
// that is not a number, breaks the run.
class OverheatCount {
  public:
    static constexpr double kLimitCelsius = 90.0;
    static constexpr int kReadingsInARow = 2;

    // One reading; true when it completes a run of hot readings (the count starts again).
    bool reading(const QString& text);

  private:
    int m_hot = 0;
};

// From now on every temperature reading `form` shows while its test runs is counted, from
// nothing; the run that completes pauses the test and tells the operator. At every start of
// a test (GUI thread).
void WatchTemperature(Testclass& form);
