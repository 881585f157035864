#pragma once

#include <cstdint>

#include "link/link_view.h"
#include "run/recovery_offer.h"

class Testclass;

// A recovered test in its new test window. The window shows the test as it was (records,
// chart, start time) and goes on with it: "设备初试化" stays disabled, because initialising
// would clear the instrument's clock and charges, and the first "开始实验" reads the
// instrument's minute count before anything else is sent.

// Takes up `recovered` in `form`, after the form's first update.
void TakeUpRecoveredTest(Testclass& form, RecoveredTest recovered);

// True until the first "开始实验" of the recovered test in `form` has had its answer.
bool ResumeCheckPending(const Testclass& form);
// "开始实验" of a recovered test: the command cycle reads the instrument's minute count.
void StartResumeCheck(Testclass& form);

// What the minute count `minutes` means for the recovered test in `form` (GUI thread), as
// JudgeResume() judges it from the test's last record. When the charges must decide as well,
// the first answer is ReadChargesFirst and the next one reads them from the channel table.
// The command cycle asks it through the form's link once the instrument has answered.
ResumeDecision DecideResume(Testclass& form, int32_t minutes);
// The same, at `nowMs` on the wall clock.
ResumeDecision DecideResume(Testclass& form, int32_t minutes, qint64 nowMs);
