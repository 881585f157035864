#pragma once

#include "archive/audit_trail.h"

namespace archive {

// Reads what the audit trail keeps of an event's exported file (`filePath`): its name, and,
// when it can be read, its size and SHA-256. Marks the event read either way, so that the file
// is read once, as it was when the event happened, and never again later.
void ReadAuditedFile(AuditEvent& event);

}  // namespace archive
