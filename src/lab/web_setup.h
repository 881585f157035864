#pragma once

#include <QString>

#include "server/pg_connection.h"

// What `kivo-lab --setup` does once, with the database owner's connection: the lab's tables
// as the benches make them when there are none (tables of another version are refused, never
// upgraded), the read-only role the service connects as, the service's own
// tables and indices, and the live page's trigger when the program carries one. Every step
// may run again. The service's tables have a version of their own (kivo_web_schema), apart
// from the benches' schema version.
namespace lab {

inline constexpr const char* kWebRole = "kivo_web";
inline constexpr int kWebSchemaVersion = 1;

// Runs the set-up; throws server::PgError. Returns what it did, for the administrator.
QString SetUpWebService(server::PgConnection& owner);

// The service's tables' version in the database (0: not set up).
int WebSchemaVersion(server::PgConnection& db);

}  // namespace lab
