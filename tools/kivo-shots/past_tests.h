#pragma once

#include <QString>

#include "archive/test_states.h"

namespace archive {
class ArchiveWriter;
}

// A made-up test of the pictures' lab, as the archive keeps it.
struct PastTest {
    const char* date;
    const char* start;
    const char* tester;
    const char* organisation;
    int minutes;     // the test's duration
    int ranMinutes;  // how far it got
    int diameter;
    double mA;  // the channels' starting current around this
    archive::TestState end;
};

// Writes `test` under `uid`: its parameters, a poll a minute and a record every five minutes
// up to `ranMinutes`, with currents that warm up and charges that add up; its specimens are
// numbered after `number`. Its ending is the caller's to write. Returns the wall-clock time
// (ms) of its last minute.
qint64 WritePastTest(archive::ArchiveWriter& writer, const PastTest& test, const QString& uid,
                     int number);
