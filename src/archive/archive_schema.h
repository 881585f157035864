#pragma once

#include <string>

#include "archive/sqlite_handle.h"

// The archive's tables and how an older archive is brought up to date. The schema's version
// is the database's user_version; each step brings it from one version to the next, and an
// upgrade runs the steps it needs in one transaction.
namespace archive {

// The version this program writes. Version 1 holds what a running test writes; version 2 adds
// the summary columns and the index the test list reads; version 3 the audit trail and how far
// each test has been sent to the lab server; version 4 the key of each test's lock name and the
// adapter's serial number with each audit event.
constexpr int kArchiveVersion = 4;

int ArchiveVersion(Connection& db);

// Runs the missing steps up to `target` (an older version only in tests) in one write
// transaction. Returns the version found before. An archive above `target` is left as it is.
int UpgradeArchive(Connection& db, int target = kArchiveVersion);

// Brings one test's summary columns (record count, last charges, last change) in line with
// its records and state changes; the writer runs it in the transaction that changed them.
std::string RefreshSummarySql();  // ?1 = the test's id

}  // namespace archive
