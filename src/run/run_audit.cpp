#include "run/run_audit.h"

#include <QObject>
#include <QVariant>

#include "archive/audit_trail.h"
#include "link/serial_channel.h"
#include "platform/port_names.h"
#include "run/archive_session.h"
#include "run/archived_run.h"
#include "state/test_state.h"

namespace RunAudit {
namespace {

constexpr const char* kShownTest = "kivoArchivedTestUid";

void Hand(archive::AuditEvent event) {
    const std::shared_ptr<archive::AuditTrail> trail = ArchiveSession::audit();
    if (!trail) return;
    event.user = g_strCurrentUser;
    if (event.detail.isEmpty()) event.detail = archive::AuditActionText(event.action);
    if (g_nComPort < g_strComNames.size()) {
        event.portName = g_strComNames[g_nComPort];
        event.portDevice = PortNames::devicePath(event.portName);
        event.usbSerial = PortNames::usbSerial(event.portDevice);
    }
    trail->record(std::move(event));
}

}  // namespace

void record(const QString& action, const QString& uid, const QString& detail) {
    archive::AuditEvent event;
    event.action = action;
    event.testUid = uid.isEmpty() ? ArchivedRun::uid() : uid;
    event.detail = detail;
    Hand(std::move(event));
}

void recordFile(const QObject* form, const QString& action, const QString& kind,
                const QString& path, const QString& uid) {
    archive::AuditEvent event;
    event.action = action;
    event.testUid = uid;
    if (event.testUid.isEmpty()) event.testUid = ArchivedRun::uid();
    if (event.testUid.isEmpty() && form) event.testUid = form->property(kShownTest).toString();
    event.fileKind = kind;
    event.filePath = path;
    event.detail = archive::AuditActionText(action) + QStringLiteral("：") + kind;
    Hand(std::move(event));
}

void setShownTest(QObject& form, const QString& uid) { form.setProperty(kShownTest, uid); }

}  // namespace RunAudit
