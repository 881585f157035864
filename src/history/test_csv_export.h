#pragma once

#include <QString>
#include <vector>

#include "archive/archive_rows.h"

class QWidget;

// "导出CSV": asks for a file (the save-dialog service, "*.csv") and writes test `id` of the
// archive at `archivePath` there as CSV (BuildPollCsv), replacing the file whole. Every
// failure is told in a message owned by `owner`. True when the file was written.
bool ExportTestCsv(QWidget* owner, const QString& archivePath, qint64 id);

// The same for a test already read whole with its polls (from the lab server).
bool ExportPollsCsv(QWidget* owner, const archive::ArchivedTest& test,
                    const std::vector<archive::PollRow>& polls);
