#pragma once

// The server's step to version 4: an audit event is filed only against a test of the same
// bench role, or a test the server does not hold (deleted before it was ever sent); another
// bench's test may only be noted as read (exported, exported as CSV, printed), never given a
// state or a deletion. The events are found by their bench for the bench's account of them
// (audit_account.h). Privileges that an older set-up granted by default to the former shared
// role go.
namespace server {

extern const char* const kEventOwnershipStep;

}  // namespace server
