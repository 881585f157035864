#include "server/test_summaries_schema.h"

namespace server {

// The functions run with their owner's rights (SECURITY DEFINER), so a role that may only
// insert and select keeps the summaries up to date too; their search path is the schema's.
// A test is summed up with its row locked (a lock that the records' and state changes'
// references to it do not wait for), so two sessions sending the same test at once never
// leave a summary without the other's rows.
const char* const kTestSummariesStep = R"(
CREATE TABLE test_summaries (
  test_uid text PRIMARY KEY REFERENCES tests (uid),
  bench_id bigint NOT NULL,
  test_date text NOT NULL,
  start_time text NOT NULL,
  started_at_ms bigint NOT NULL,
  tester text NOT NULL,
  organisation text NOT NULL,
  test_minutes integer NOT NULL,
  record_interval integer NOT NULL,
  diameter integer NOT NULL,
  channels_off integer NOT NULL,
  record_count integer NOT NULL,
  last_at_ms bigint,
  last_charge_1 text, last_charge_2 text, last_charge_3 text,
  last_charge_4 text, last_charge_5 text, last_charge_6 text,
  state_names text NOT NULL,
  state_at_ms bigint
);
CREATE FUNCTION kivo_sum_up_tests(uids text[]) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT AS $$
BEGIN
  PERFORM 1 FROM tests WHERE uid = ANY (uids) ORDER BY uid FOR NO KEY UPDATE;
  INSERT INTO test_summaries AS s (test_uid, bench_id, test_date, start_time, started_at_ms,
      tester, organisation, test_minutes, record_interval, diameter, channels_off,
      record_count, last_at_ms,
      last_charge_1, last_charge_2, last_charge_3, last_charge_4, last_charge_5, last_charge_6,
      state_names, state_at_ms)
    SELECT t.uid, t.bench_id, t.test_date, t.start_time, t.started_at_ms, t.tester,
      t.organisation, t.test_minutes, t.record_interval, t.diameter,
      (t.channel_off_1 <> 0)::int + 2 * (t.channel_off_2 <> 0)::int
        + 4 * (t.channel_off_3 <> 0)::int + 8 * (t.channel_off_4 <> 0)::int
        + 16 * (t.channel_off_5 <> 0)::int + 32 * (t.channel_off_6 <> 0)::int,
      (SELECT count(DISTINCT r.number) FROM records r WHERE r.test_uid = t.uid),
      last.at_ms, last.charge_1, last.charge_2, last.charge_3, last.charge_4, last.charge_5,
      last.charge_6, coalesce(states.names, ''), states.at_ms
    FROM tests t
    LEFT JOIN LATERAL (
      SELECT r.at_ms, r.charge_1, r.charge_2, r.charge_3, r.charge_4, r.charge_5, r.charge_6
      FROM records r WHERE r.test_uid = t.uid ORDER BY r.number DESC, r.revision DESC LIMIT 1
    ) last ON true
    LEFT JOIN LATERAL (
      SELECT string_agg(c.state, ' ' ORDER BY c.ordinal) AS names, max(c.at_ms) AS at_ms
      FROM state_changes c WHERE c.test_uid = t.uid
    ) states ON true
    WHERE t.uid = ANY (uids)
  ON CONFLICT (test_uid) DO UPDATE SET
    record_count = excluded.record_count, last_at_ms = excluded.last_at_ms,
    last_charge_1 = excluded.last_charge_1, last_charge_2 = excluded.last_charge_2,
    last_charge_3 = excluded.last_charge_3, last_charge_4 = excluded.last_charge_4,
    last_charge_5 = excluded.last_charge_5, last_charge_6 = excluded.last_charge_6,
    state_names = excluded.state_names, state_at_ms = excluded.state_at_ms;
END $$;
CREATE FUNCTION kivo_sum_up_new_tests() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT AS $$
BEGIN
  PERFORM kivo_sum_up_tests(ARRAY(SELECT DISTINCT uid FROM arrived ORDER BY 1));
  RETURN NULL;
END $$;
CREATE FUNCTION kivo_sum_up_tests_of_rows() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT AS $$
BEGIN
  PERFORM kivo_sum_up_tests(ARRAY(SELECT DISTINCT test_uid FROM arrived ORDER BY 1));
  RETURN NULL;
END $$;
CREATE TRIGGER tests_summed_up AFTER INSERT ON tests REFERENCING NEW TABLE AS arrived
  FOR EACH STATEMENT EXECUTE FUNCTION kivo_sum_up_new_tests();
CREATE TRIGGER records_summed_up AFTER INSERT ON records REFERENCING NEW TABLE AS arrived
  FOR EACH STATEMENT EXECUTE FUNCTION kivo_sum_up_tests_of_rows();
CREATE TRIGGER state_changes_summed_up AFTER INSERT ON state_changes
  REFERENCING NEW TABLE AS arrived
  FOR EACH STATEMENT EXECUTE FUNCTION kivo_sum_up_tests_of_rows();
SELECT kivo_sum_up_tests(ARRAY(SELECT uid FROM tests ORDER BY 1));
)";

}  // namespace server
