#pragma once

#include <QString>
#include <optional>

#include "archive/archive_rows.h"

class QWidget;

// Deleting a test from the archive, as the list's "删除" does it. The test is named by its uid
// and read again under its lock, so a list row older than the archive never deletes another
// test. Refused for a test that a program runs (its lock is held, this program's own running
// test included, or cannot be checked) and for the test shown in the view window
// (`viewedId`); otherwise a question, then the logged-in user's password (after a login when
// nobody has logged in), then the test and all its records go in one transaction. Every
// refusal and failure is told in a message owned by `owner`. True when the list must be read
// again: the test was deleted, or was gone already.
bool DeleteArchivedTest(QWidget* owner, const QString& archivePath,
                        const archive::TestSummary& listed, std::optional<qint64> viewedId);
