#include "server/event_ownership_schema.h"

namespace server {

const char* const kEventOwnershipStep = R"(
CREATE INDEX audit_events_of_bench ON audit_events (bench_id);
DROP POLICY own_events ON audit_events;
CREATE POLICY own_events ON audit_events FOR INSERT WITH CHECK (
  EXISTS (SELECT 1 FROM benches b WHERE b.id = bench_id AND b.role_name = current_user)
  AND (test_uid IS NULL
       OR action IN ('exported', 'csv_exported', 'printed')
       OR NOT EXISTS (
         SELECT 1 FROM tests t JOIN benches tb ON tb.id = t.bench_id
         WHERE t.uid = audit_events.test_uid AND tb.role_name <> current_user
           -- A test this bench sent before it had a role of its own (under the owner or the
           -- former shared role) stays its own: deleting or recovering it is still noted.
           AND NOT (tb.role_name IN ('kivo_bench',
                                     (SELECT tableowner FROM pg_catalog.pg_tables
                                      WHERE schemaname = current_schema()
                                        AND tablename = 'audit_events'))
                    AND tb.bench_uid IS NOT NULL
                    AND tb.bench_uid = (SELECT eb.bench_uid FROM benches eb
                                        WHERE eb.id = audit_events.bench_id)))));
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
