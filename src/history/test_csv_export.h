#pragma once

#include <QString>

class QWidget;

// "导出CSV": asks for a file (the save-dialog service, "*.csv") and writes test `id` of the
// archive at `archivePath` there as CSV (BuildPollCsv), replacing the file whole. Every
// failure is told in a message owned by `owner`. True when the file was written.
bool ExportTestCsv(QWidget* owner, const QString& archivePath, qint64 id);
