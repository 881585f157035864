#pragma once

class Testclass;

// The parameters of the pictures' test, as the parameter dialog leaves them: six hours, a
// record every five minutes, tester and organisation filled in.
void SetShotTestParameters();

// Commands of the run control go nowhere while the object lives: no instrument is there.
class NoInstrument {
  public:
    NoInstrument();
    ~NoInstrument();
    NoInstrument(const NoInstrument&) = delete;
    NoInstrument& operator=(const NoInstrument&) = delete;
};

// Starts the test on `form` (initialised, under NoInstrument) and fills it with two hours
// of believable readings and records, channel 1 shown.
void FillTwoHoursIn(Testclass& form);

// Ends the pretended test before the form goes.
void EndPretendedTest();

// Processes the window system's events for a moment, deletions included.
void Settle();
