#pragma once

// The program's timers run on the wall clock. Tests and demonstrations may run them faster
// by a factor (the environment variable KIVO_TIME_SCALE, or setFactor); the program's own
// periods and behaviour stay as they are, only the clock runs faster.
namespace TimeScale {

double factor();
void setFactor(double factor);
// `ms` of program time in wall-clock milliseconds (at least 1 for a positive period).
int wallMs(int ms);

}  // namespace TimeScale
