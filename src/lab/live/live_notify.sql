-- The live page's wake-up call: every statement that adds polls tells the listeners of
-- 'kivo_live' which tests (and their benches) have new polls. The payload is small
-- ("<bench id> <test uid>"); the listener reads the rows itself. One notification per test
-- and statement however many polls it adds, so a bench catching up a six-hour test sends a
-- handful, not thousands. Runs as often as wanted: it replaces what it made before.
CREATE OR REPLACE FUNCTION kivo_live_notify() RETURNS trigger
LANGUAGE plpgsql SET search_path FROM CURRENT AS $$
BEGIN
  PERFORM pg_notify('kivo_live', coalesce(t.bench_id::text, '') || ' ' || a.test_uid)
    FROM (SELECT DISTINCT test_uid FROM arrived) a
    LEFT JOIN tests t ON t.uid = a.test_uid;
  RETURN NULL;
END $$;
DROP TRIGGER IF EXISTS polls_live_notify ON polls;
CREATE TRIGGER polls_live_notify AFTER INSERT ON polls REFERENCING NEW TABLE AS arrived
  FOR EACH STATEMENT EXECUTE FUNCTION kivo_live_notify();
