#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "archive/archive_rows.h"

class QWidget;
class Testclass;
class ResultPanel;

// A test of the archive shown in a test window in view mode: the form as it was when the
// test ran, with nothing running, and the result panel below the chart.
struct ViewedTest {
    archive::ArchivedTest test;
    std::optional<archive::PollRow> lastPoll;  // the readings last shown (voltage)
    // A test read from the lab server comes with its polls: its "导出CSV" writes them.
    std::shared_ptr<const std::vector<archive::PollRow>> serverPolls;
};

// Reads test `id` from the archive at `archivePath`; nothing, after a message owned by
// `owner`, when the archive cannot be read or no longer holds the test.
std::optional<ViewedTest> LoadViewedTest(QWidget* owner, const QString& archivePath, qint64 id);

// The window title of a test in view mode.
QString ViewedTestTitle(const archive::ArchivedTest& test);

// After the first update of a view-only form (whose parameters SetParametersFromArchive set
// before it): the records, fields and chart as the test left them, and the result panel
// with its "导出CSV", which exports from the archive at `archivePath`.
ResultPanel* ShowTestForViewing(Testclass& form, const ViewedTest& viewed,
                                const QString& archivePath);

// The form's result panel, or null (a live test's form has none).
ResultPanel* ResultPanelOf(const Testclass& form);
