#pragma once

#include <memory>
#include <optional>

#include "archive/archive_rows.h"
#include "archive/test_lock.h"

class QWidget;

// A test of the archive that did not end, taken up again by this program.
struct RecoveredTest {
    archive::ArchivedTest test;
    std::unique_ptr<archive::TestLock> lock;  // held from the question on
};

// After the login of "新建实验", before the parameters: every test of the archive that did not
// end (its program died while it ran or was paused) and that no running copy of the program
// holds is offered for recovery, newest first. A test the operator declines is marked
// interrupted. Returns the test the operator takes, with its lock; nothing otherwise.
std::optional<RecoveredTest> OfferRecovery(QWidget* owner);

// The question for `test`.
QString RecoveryQuestion(const archive::ArchivedTest& test);
