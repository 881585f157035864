#pragma once

#include "archive/archive_rows.h"

class Testclass;

// A test of the archive shown on a test form, as the form showed it when it was running.

// The test parameters as the parameter dialog sets them, from the test's header. Before the
// form's first update, which reads them.
void SetParametersFromArchive(const archive::TestHeader& header);

// After the form's first update: the test's records in the history lists, the last record's
// readings in the channel table, and the fields of the test (date, start time, remaining
// minutes at the last record).
void ShowArchivedTest(Testclass& form, const archive::ArchivedTest& test);
