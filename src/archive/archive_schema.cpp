#include "archive/archive_schema.h"

#include <string>

namespace archive {
namespace {

constexpr const char* kStateCheck =
    "('running','paused','comm_failure','finished_minutes','finished_instrument','closed',"
    "'interrupted')";

// The summary columns of every test the statement touches, from its records and state changes.
constexpr const char* kSummaryAssignments = R"(
  record_count = (SELECT count(*) FROM record r WHERE r.test_id = test.id),
  last_charge_1 = (SELECT charge_1 FROM record r WHERE r.test_id = test.id ORDER BY number DESC LIMIT 1),
  last_charge_2 = (SELECT charge_2 FROM record r WHERE r.test_id = test.id ORDER BY number DESC LIMIT 1),
  last_charge_3 = (SELECT charge_3 FROM record r WHERE r.test_id = test.id ORDER BY number DESC LIMIT 1),
  last_charge_4 = (SELECT charge_4 FROM record r WHERE r.test_id = test.id ORDER BY number DESC LIMIT 1),
  last_charge_5 = (SELECT charge_5 FROM record r WHERE r.test_id = test.id ORDER BY number DESC LIMIT 1),
  last_charge_6 = (SELECT charge_6 FROM record r WHERE r.test_id = test.id ORDER BY number DESC LIMIT 1),
  changed_at_ms = max(started_at_ms,
      coalesce((SELECT max(at_ms) FROM record r WHERE r.test_id = test.id), 0),
      coalesce((SELECT max(at_ms) FROM state_change s WHERE s.test_id = test.id), 0)))";

// Version 1: a test, its state changes, its records and its polls.
std::string Version1() {
    const std::string states = kStateCheck;
    return R"(
CREATE TABLE test (
  id INTEGER PRIMARY KEY,
  uid TEXT NOT NULL UNIQUE,
  test_date TEXT NOT NULL,
  start_time TEXT NOT NULL,
  started_at_ms INTEGER NOT NULL,
  user_name TEXT NOT NULL,
  port_index INTEGER NOT NULL,
  port_name TEXT NOT NULL,
  port_device TEXT NOT NULL,
  voltage TEXT NOT NULL,
  test_minutes INTEGER NOT NULL,
  record_interval INTEGER NOT NULL,
  diameter INTEGER NOT NULL,
  tester TEXT NOT NULL,
  organisation TEXT NOT NULL,
  specimen_no_0 TEXT NOT NULL, specimen_no_1 TEXT NOT NULL, specimen_no_2 TEXT NOT NULL,
  specimen_no_3 TEXT NOT NULL, specimen_no_4 TEXT NOT NULL, specimen_no_5 TEXT NOT NULL,
  specimen_no_6 TEXT NOT NULL, specimen_no_7 TEXT NOT NULL, specimen_no_8 TEXT NOT NULL,
  channel_off_1 INTEGER NOT NULL, channel_off_2 INTEGER NOT NULL, channel_off_3 INTEGER NOT NULL,
  channel_off_4 INTEGER NOT NULL, channel_off_5 INTEGER NOT NULL, channel_off_6 INTEGER NOT NULL,
  program_version TEXT NOT NULL,
  state TEXT NOT NULL CHECK (state IN )" +
           states + R"(),
  closed INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE state_change (
  test_id INTEGER NOT NULL REFERENCES test(id) ON DELETE CASCADE,
  state TEXT NOT NULL CHECK (state IN )" +
           states + R"(),
  at_ms INTEGER NOT NULL
);
CREATE INDEX state_change_of_test ON state_change(test_id);
CREATE TABLE record (
  test_id INTEGER NOT NULL REFERENCES test(id) ON DELETE CASCADE,
  number INTEGER NOT NULL,
  minutes INTEGER,
  temperature TEXT,
  at_ms INTEGER NOT NULL,
  current_1 TEXT, current_2 TEXT, current_3 TEXT, current_4 TEXT, current_5 TEXT, current_6 TEXT,
  charge_1 TEXT, charge_2 TEXT, charge_3 TEXT, charge_4 TEXT, charge_5 TEXT, charge_6 TEXT,
  PRIMARY KEY (test_id, number)
) WITHOUT ROWID;
CREATE TABLE poll (
  test_id INTEGER NOT NULL REFERENCES test(id) ON DELETE CASCADE,
  seq INTEGER NOT NULL,
  at_ms INTEGER NOT NULL,
  minutes INTEGER,
  voltage TEXT,
  temperature TEXT,
  current_1 TEXT, current_2 TEXT, current_3 TEXT, current_4 TEXT, current_5 TEXT, current_6 TEXT,
  charge_1 TEXT, charge_2 TEXT, charge_3 TEXT, charge_4 TEXT, charge_5 TEXT, charge_6 TEXT,
  PRIMARY KEY (test_id, seq)
) WITHOUT ROWID;
)";
}

// Version 2: what the test list reads without visiting every test's records.
std::string Version2() {
    return std::string(R"(
ALTER TABLE test ADD COLUMN record_count INTEGER NOT NULL DEFAULT 0;
ALTER TABLE test ADD COLUMN last_charge_1 TEXT;
ALTER TABLE test ADD COLUMN last_charge_2 TEXT;
ALTER TABLE test ADD COLUMN last_charge_3 TEXT;
ALTER TABLE test ADD COLUMN last_charge_4 TEXT;
ALTER TABLE test ADD COLUMN last_charge_5 TEXT;
ALTER TABLE test ADD COLUMN last_charge_6 TEXT;
ALTER TABLE test ADD COLUMN changed_at_ms INTEGER NOT NULL DEFAULT 0;
CREATE INDEX test_newest_first ON test(started_at_ms DESC, id DESC);
)") + "UPDATE test SET " +
           kSummaryAssignments + ";";
}

// Version 3: the audit trail, and how far each test has been sent to the lab server (sent_to
// names the server database the marks belong to). A record
// changed after it was sent gets a higher revision and is sent again; anything written to a test
// the sender had finished with makes it look at the test again.
std::string Version3() {
    return R"(
ALTER TABLE test ADD COLUMN sent_header INTEGER NOT NULL DEFAULT 0;
ALTER TABLE test ADD COLUMN sent_states INTEGER NOT NULL DEFAULT 0;
ALTER TABLE test ADD COLUMN sent_polls INTEGER NOT NULL DEFAULT 0;
ALTER TABLE test ADD COLUMN sent_settled INTEGER NOT NULL DEFAULT 0;
CREATE INDEX test_unsettled ON test(id) WHERE sent_settled = 0;
ALTER TABLE record ADD COLUMN revision INTEGER NOT NULL DEFAULT 0;
ALTER TABLE record ADD COLUMN sent INTEGER NOT NULL DEFAULT 0;
CREATE INDEX record_unsent ON record(test_id) WHERE sent = 0;
CREATE TRIGGER record_revised AFTER UPDATE OF minutes, temperature, at_ms,
    current_1, current_2, current_3, current_4, current_5, current_6,
    charge_1, charge_2, charge_3, charge_4, charge_5, charge_6 ON record
BEGIN
  UPDATE record SET revision = revision + 1, sent = 0
    WHERE test_id = NEW.test_id AND number = NEW.number;
  UPDATE test SET sent_settled = 0 WHERE id = NEW.test_id AND sent_settled <> 0;
END;
CREATE TRIGGER record_unsettles AFTER INSERT ON record
BEGIN
  UPDATE test SET sent_settled = 0 WHERE id = NEW.test_id AND sent_settled <> 0;
END;
CREATE TRIGGER state_change_unsettles AFTER INSERT ON state_change
BEGIN
  UPDATE test SET sent_settled = 0 WHERE id = NEW.test_id AND sent_settled <> 0;
END;
CREATE TRIGGER poll_unsettles AFTER INSERT ON poll
  WHEN (SELECT sent_settled FROM test WHERE id = NEW.test_id) <> 0
BEGIN
  UPDATE test SET sent_settled = 0 WHERE id = NEW.test_id;
END;
CREATE TABLE audit_event (
  id INTEGER PRIMARY KEY,
  uid TEXT NOT NULL UNIQUE,
  test_uid TEXT,
  at_ms INTEGER NOT NULL,
  user_name TEXT NOT NULL,
  action TEXT NOT NULL,
  detail TEXT NOT NULL,
  file_kind TEXT,
  file_name TEXT,
  file_size INTEGER,
  file_sha256 TEXT,
  host_name TEXT NOT NULL,
  port_name TEXT NOT NULL,
  port_device TEXT NOT NULL,
  program_version TEXT NOT NULL,
  sent INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX audit_event_unsent ON audit_event(id) WHERE sent = 0;
CREATE TABLE sent_to (server_uid TEXT NOT NULL);
CREATE INDEX audit_event_of_test ON audit_event(test_uid);
)";
}

// Version 4: the key of the archive a test's lock name was made from when the test started
// (see test_lock_name.h), so that every program checks the test under the one name; and the
// serial number of the USB adapter behind the port, kept with each audit event as it happens
// (a test's first event names the bench it ran on, as it was then).
std::string Version4() {
    return "ALTER TABLE test ADD COLUMN lock_key TEXT NOT NULL DEFAULT '';"
           "ALTER TABLE audit_event ADD COLUMN usb_serial TEXT;";
}

struct Step {
    int version;  // the version the step brings the archive to
    std::string (*sql)();
};

// In order; a new version appends a step and never changes an old one.
constexpr Step kSteps[] = {{1, Version1}, {2, Version2}, {3, Version3}, {4, Version4}};
static_assert(std::size(kSteps) == kArchiveVersion);

}  // namespace

std::string RefreshSummarySql() {
    return std::string("UPDATE test SET ") + kSummaryAssignments + " WHERE id = ?1";
}

int ArchiveVersion(Connection& db) { return int(db.queryInt("PRAGMA user_version")); }

int UpgradeArchive(Connection& db, int target) {
    if (ArchiveVersion(db) >= target) return ArchiveVersion(db);
    WriteTransaction transaction(db);
    // Read inside the transaction: another copy of the program may have upgraded meanwhile.
    const int found = ArchiveVersion(db);
    if (found >= target) return found;
    for (const Step& step : kSteps)
        if (step.version > found && step.version <= target) db.exec(step.sql().c_str());
    db.exec(("PRAGMA user_version = " + std::to_string(target)).c_str());
    transaction.commit();
    return found;
}

}  // namespace archive
