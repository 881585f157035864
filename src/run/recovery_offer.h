#pragma once

#include <QStringList>
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
// holds is offered for recovery, newest first, each named by its bench (port and device),
// tester and organisation. The operator takes it up (恢复: the tests after it are left for the
// next time), leaves it for the next "新建实验" here or in another copy (以后再说), or marks
// it interrupted (放弃), its records kept and its lock let go once that is written. Returns
// the test taken up, with its lock; nothing otherwise.
std::optional<RecoveredTest> OfferRecovery(QWidget* owner);

// The question for `test`, and its buttons: 恢复, 以后再说 (Enter and Escape), 放弃.
QString RecoveryQuestion(const archive::ArchivedTest& test);
const QStringList& RecoveryChoices();
