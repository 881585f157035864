#pragma once

#include <QString>
#include <memory>

#include "archive/archive_rows.h"

class Testclass;

namespace archive {
class TestLock;
}

// The archive's side of the test that the test window runs: its row made at the first start,
// every change of its state, every record and every channel poll, handed to the archive's
// writer as they happen (nothing here waits for the disk). While the window runs the test it
// holds the test's lock, so no other copy of the program offers to recover it. There is at
// most one such test, as there is at most one test window.
namespace ArchivedRun {

// "开始实验": makes the test's row on the first start (parameters, user, date, start time,
// port), and records "running" on every start. GUI thread.
void started(Testclass& form);
// The state of the test changes (pause, communication failure, finish). Any thread.
void changeState(archive::TestState state);
// The record just taken: row `row` of every history list. GUI thread.
void recorded(const Testclass& form, int row);
// The readings a channel poll left on the form. GUI thread.
void polled(const Testclass& form);

// A test of the archive goes on in `form` (a recovered test): its records are on the form
// already, and `lock` is held for it.
void adopt(Testclass& form, const archive::ArchivedTest& test,
           std::unique_ptr<archive::TestLock> lock);

// The test's uid, empty when the window runs no archived test (tests).
QString uid();

}  // namespace ArchivedRun
