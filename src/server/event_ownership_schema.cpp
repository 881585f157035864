#include "server/event_ownership_schema.h"

namespace server {

const char* const kEventOwnershipStep = R"(
CREATE INDEX audit_events_of_bench ON audit_events (bench_id);
DROP POLICY own_events ON audit_events;
CREATE POLICY own_events ON audit_events FOR INSERT WITH CHECK (
  EXISTS (SELECT 1 FROM benches b WHERE b.id = bench_id AND b.role_name = current_user)
  AND (test_uid IS NULL
       OR action IN ('exported', 'csv_exported', 'printed')
       OR NOT EXISTS (SELECT 1 FROM tests t JOIN benches b ON b.id = t.bench_id
                      WHERE t.uid = test_uid AND b.role_name <> current_user)));
DO $$
BEGIN
  -- What an older set-up granted by default to the former shared role on every new table:
  -- inserting is granted table by table now (reading stays).
  IF EXISTS (SELECT 1 FROM pg_catalog.pg_roles WHERE rolname = 'kivo_bench') THEN
    EXECUTE format('ALTER DEFAULT PRIVILEGES IN SCHEMA %I REVOKE INSERT, UPDATE, DELETE, '
                   'TRUNCATE, REFERENCES, TRIGGER ON TABLES FROM kivo_bench', current_schema());
    ALTER DEFAULT PRIVILEGES REVOKE INSERT, UPDATE, DELETE, TRUNCATE, REFERENCES, TRIGGER
      ON TABLES FROM kivo_bench;
  END IF;
END $$;
)";

}  // namespace server
