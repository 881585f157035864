#include "server/bench_roles_schema.h"

namespace server {

const char* const kBenchRolesStep = R"(
ALTER TABLE benches ADD COLUMN bench_uid text;
ALTER TABLE benches ADD COLUMN role_name text NOT NULL DEFAULT current_user;
-- Before roles of their own every bench sent as the one shared role: the benches, and the
-- tests still under way, stay that role's, so that those benches go on sending them.
UPDATE benches SET role_name = 'kivo_bench'
  WHERE EXISTS (SELECT 1 FROM pg_catalog.pg_roles WHERE rolname = 'kivo_bench');
DO $$
DECLARE c text;
BEGIN
  FOR c IN SELECT conname FROM pg_constraint
      WHERE conrelid = 'benches'::regclass AND contype = 'u' LOOP
    EXECUTE format('ALTER TABLE benches DROP CONSTRAINT %I', c);
  END LOOP;
END $$;
CREATE UNIQUE INDEX benches_by_uid ON benches (role_name, bench_uid, port_name);

ALTER TABLE benches ENABLE ROW LEVEL SECURITY;
CREATE POLICY readable ON benches FOR SELECT USING (true);
CREATE POLICY own_benches ON benches FOR INSERT WITH CHECK (role_name = current_user);

ALTER TABLE tests ENABLE ROW LEVEL SECURITY;
CREATE POLICY readable ON tests FOR SELECT USING (true);
CREATE POLICY own_tests ON tests FOR INSERT WITH CHECK (
  EXISTS (SELECT 1 FROM benches b WHERE b.id = bench_id AND b.role_name = current_user));

ALTER TABLE audit_events ENABLE ROW LEVEL SECURITY;
CREATE POLICY readable ON audit_events FOR SELECT USING (true);
CREATE POLICY own_events ON audit_events FOR INSERT WITH CHECK (
  EXISTS (SELECT 1 FROM benches b WHERE b.id = bench_id AND b.role_name = current_user));

ALTER TABLE state_changes ENABLE ROW LEVEL SECURITY;
CREATE POLICY readable ON state_changes FOR SELECT USING (true);
CREATE POLICY own_rows ON state_changes FOR INSERT WITH CHECK (
  EXISTS (SELECT 1 FROM tests t JOIN benches b ON b.id = t.bench_id
          WHERE t.uid = test_uid AND b.role_name = current_user));
ALTER TABLE records ENABLE ROW LEVEL SECURITY;
CREATE POLICY readable ON records FOR SELECT USING (true);
CREATE POLICY own_rows ON records FOR INSERT WITH CHECK (
  EXISTS (SELECT 1 FROM tests t JOIN benches b ON b.id = t.bench_id
          WHERE t.uid = test_uid AND b.role_name = current_user));
ALTER TABLE polls ENABLE ROW LEVEL SECURITY;
CREATE POLICY readable ON polls FOR SELECT USING (true);
CREATE POLICY own_rows ON polls FOR INSERT WITH CHECK (
  EXISTS (SELECT 1 FROM tests t JOIN benches b ON b.id = t.bench_id
          WHERE t.uid = test_uid AND b.role_name = current_user));

-- Read by everyone, written by the owner and the server's own functions only.
ALTER TABLE kivo_schema ENABLE ROW LEVEL SECURITY;
CREATE POLICY readable ON kivo_schema FOR SELECT USING (true);
ALTER TABLE kivo_server ENABLE ROW LEVEL SECURITY;
CREATE POLICY readable ON kivo_server FOR SELECT USING (true);
ALTER TABLE test_summaries ENABLE ROW LEVEL SECURITY;
CREATE POLICY readable ON test_summaries FOR SELECT USING (true);
ALTER TABLE test_accounts ENABLE ROW LEVEL SECURITY;
CREATE POLICY readable ON test_accounts FOR SELECT USING (true);
ALTER TABLE conflicts ENABLE ROW LEVEL SECURITY;
CREATE POLICY readable ON conflicts FOR SELECT USING (true);

DO $$
DECLARE
  g record;
  f record;
BEGIN
  -- Rows are never changed nor removed by anyone but the owner, and the tables the server
  -- alone writes take no INSERT: what an older set-up granted goes.
  FOR g IN SELECT DISTINCT p.grantee, p.table_name, p.privilege_type
      FROM information_schema.role_table_grants p
      JOIN pg_catalog.pg_tables t ON t.schemaname = p.table_schema AND t.tablename = p.table_name
      WHERE p.table_schema = current_schema() AND p.grantee <> t.tableowner
        AND (p.privilege_type IN ('UPDATE', 'DELETE', 'TRUNCATE', 'REFERENCES', 'TRIGGER')
             OR (p.privilege_type = 'INSERT' AND p.table_name IN
                 ('kivo_schema', 'kivo_server', 'test_summaries', 'test_accounts', 'conflicts')))
  LOOP
    EXECUTE format('REVOKE %s ON %I FROM %s', g.privilege_type, g.table_name,
                   CASE WHEN g.grantee = 'PUBLIC' THEN 'PUBLIC' ELSE quote_ident(g.grantee) END);
  END LOOP;
  -- A fixed search path with the temporary schema last: no temporary table stands in for
  -- ours; and what runs with the owner's rights is not for PUBLIC to call.
  FOR f IN SELECT p.oid::regprocedure AS sig, p.prosecdef FROM pg_catalog.pg_proc p
      WHERE p.pronamespace = current_schema()::regnamespace AND p.proname LIKE 'kivo\_%' LOOP
    EXECUTE format('ALTER FUNCTION %s SET search_path = pg_catalog, %I, pg_temp', f.sig,
                   current_schema());
    IF f.prosecdef THEN
      EXECUTE format('REVOKE ALL ON FUNCTION %s FROM PUBLIC', f.sig);
    END IF;
  END LOOP;
END $$;
DO $$
BEGIN
  EXECUTE format('REVOKE CREATE ON SCHEMA %I FROM PUBLIC', current_schema());
EXCEPTION WHEN insufficient_privilege THEN
  RAISE WARNING 'kivo: %', SQLERRM;
END $$;
DO $$
BEGIN
  EXECUTE format('REVOKE TEMPORARY ON DATABASE %I FROM PUBLIC', current_database());
EXCEPTION WHEN insufficient_privilege THEN
  RAISE WARNING 'kivo: %', SQLERRM;
END $$;
)";

}  // namespace server
