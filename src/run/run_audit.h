#pragma once

#include <QString>

class QObject;

// The audit trail as the program writes it: what the logged-in user did to which test. Each
// call hands the event to the archive's trail and returns at once; without an archive it does
// nothing.
namespace RunAudit {

// `action` (see archive::AuditActionText) for the test `uid`, by the logged-in user, at the
// window's port. An empty `uid` means the test the window runs or shows.
void record(const QString& action, const QString& uid = {}, const QString& detail = {});

// A file exported for the test that `form` runs or shows: its kind ("文本数据", "趋势图",
// "报表", "CSV") and path; the trail adds its size and SHA-256.
void recordFile(const QObject* form, const QString& action, const QString& kind,
                const QString& path, const QString& uid = {});

// The form shows the archived test `uid` (view mode).
void setShownTest(QObject& form, const QString& uid);

}  // namespace RunAudit
