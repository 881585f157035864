#include "server/checked_rows_schema.h"

#include <initializer_list>

namespace server {
namespace {

// ARRAY[a.c1::text, ...] joined by the unit separator, NULL as \x01.
std::string RowText(const char* alias, std::initializer_list<const char*> columns) {
    std::string sql = "array_to_string(ARRAY[";
    bool first = true;
    for (const char* c : columns) {
        if (!first) sql += ", ";
        first = false;
        sql += alias;
        sql += '.';
        sql += c;
        sql += "::text";
    }
    return sql + "], chr(31), chr(1))";
}

#define KIVO_CHANNELS                                                                         \
    "current_1", "current_2", "current_3", "current_4", "current_5", "current_6", "charge_1", \
        "charge_2", "charge_3", "charge_4", "charge_5", "charge_6"

// A row arriving with a key the table holds: the same content is skipped, other content is
// kept in `conflicts` and the held row stays. The lookups of these functions always go by the
// index: a table that was empty when a plan was made must not be read whole for every row of
// a large batch later. `ignored` are the columns that may differ
// (when it arrived, and the bench row a test or an event is filed under).
//
// These functions run with the owner's rights and their rows skip the row-level checks, so
// a clash is kept only for the row's own bench (or the owner): `heldByCaller` tells whether
// the held row is the calling bench's; another bench's attempt is refused as any write to
// another bench's rows is.
std::string RefuseOthers(const std::string& heldByCaller) {
    return R"(
    IF NOT pg_has_role(session_user, (SELECT c.relowner FROM pg_class c WHERE c.oid = TG_RELID),
                       'MEMBER') AND NOT )" +
           heldByCaller + R"( THEN
      RAISE EXCEPTION 'kivo: the row is another bench''s' USING ERRCODE = '42501';
    END IF;)";
}

// The held row's test is the calling bench's.
constexpr const char* kTestOfCaller =
    "EXISTS (SELECT 1 FROM tests t JOIN benches b ON b.id = t.bench_id "
    "WHERE t.uid = NEW.test_uid AND b.role_name = session_user)";

// The function alone; `create` is "CREATE FUNCTION " or, for a later step that changes what
// may differ, "CREATE OR REPLACE FUNCTION ".
std::string KeepConflictsFunction(const std::string& create, const std::string& table,
                                  const std::string& match, const std::string& key,
                                  const std::string& testUid, const std::string& ignored,
                                  const std::string& heldByCaller) {
    const std::string fn = "kivo_keep_conflict_" + table;
    return create + fn +
           R"(() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET enable_seqscan = off AS $$
DECLARE
  held jsonb;
  arrived jsonb := to_jsonb(NEW) - 'received_at')" +
           ignored + R"(;
BEGIN
  SELECT to_jsonb(o) - 'received_at')" +
           ignored + " INTO held FROM " + table + " o WHERE " + match + R"(;
  IF NOT FOUND THEN
    RETURN NEW;
  END IF;
  IF held <> arrived THEN)" +
           RefuseOthers(heldByCaller) + R"(
    INSERT INTO conflicts (table_name, row_key, test_uid, held, arrived)
      VALUES (TG_TABLE_NAME, )" +
           key + ", " + testUid + R"(, held, arrived)
      ON CONFLICT DO NOTHING;
  END IF;
  RETURN NULL;
END $$;
)";
}

std::string KeepConflicts(const std::string& table, const std::string& match,
                          const std::string& key, const std::string& testUid,
                          const std::string& ignored, const std::string& heldByCaller) {
    return KeepConflictsFunction("CREATE FUNCTION ", table, match, key, testUid, ignored,
                                 heldByCaller) +
           "CREATE TRIGGER " + table + "_conflicts_kept BEFORE INSERT ON " + table +
           " FOR EACH ROW EXECUTE FUNCTION kivo_keep_conflict_" + table + "();\n";
}

// A held test is the calling bench's.
constexpr const char* kHeldTestOfCaller =
    "EXISTS (SELECT 1 FROM tests o JOIN benches b ON b.id = o.bench_id "
    "WHERE o.uid = NEW.uid AND b.role_name = session_user)";

// Polls: one arriving under a number the server holds with another poll (an archive made
// anew numbers a resumed test's polls from 1 again) is looked for by its time: held there
// already, it is skipped; held there with other readings, it is a conflict; not held at all,
// it goes after the last poll the server holds.
//
// No index on the time: a second index led by the test would tempt the planner, with the
// statistics of a table still empty, to look a poll's number up through it, reading all of
// a test's polls for every poll that arrives. The look-up by time is rare (renumbered polls
// only) and reads the polls of one test.
const std::string kPollsArrive = R"(
CREATE FUNCTION kivo_keep_conflict_polls() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET enable_seqscan = off AS $$
DECLARE
  held jsonb;
  same_time jsonb;
  arrived jsonb := to_jsonb(NEW) - 'received_at';
BEGIN
  SELECT to_jsonb(o) - 'received_at' INTO held FROM polls o
    WHERE o.test_uid = NEW.test_uid AND o.seq = NEW.seq;
  IF NOT FOUND THEN
    RETURN NEW;
  END IF;
  IF held = arrived THEN
    RETURN NULL;
  END IF;
  SELECT to_jsonb(o) - 'received_at' INTO same_time FROM polls o
    WHERE o.test_uid = NEW.test_uid AND o.at_ms = NEW.at_ms ORDER BY o.seq LIMIT 1;
  IF NOT FOUND THEN
    NEW.seq := (SELECT max(o.seq) FROM polls o WHERE o.test_uid = NEW.test_uid) + 1;
    RETURN NEW;
  END IF;
  IF same_time - 'seq' <> arrived - 'seq' THEN)" +
                                 RefuseOthers(kTestOfCaller) + R"(
    INSERT INTO conflicts (table_name, row_key, test_uid, held, arrived)
      VALUES (TG_TABLE_NAME, NEW.test_uid || ' ' || NEW.seq, NEW.test_uid, same_time, arrived)
      ON CONFLICT DO NOTHING;
  END IF;
  RETURN NULL;
END $$;
CREATE TRIGGER polls_conflicts_kept BEFORE INSERT ON polls
  FOR EACH ROW EXECUTE FUNCTION kivo_keep_conflict_polls();
)";

// Records: a record arriving under a revision the server holds with other content (an archive
// made anew numbers revisions from 0 again) is the same record when it equals the last
// revision the server holds, and a new revision after it otherwise: revisions never restart
// and every one stays visible.
constexpr const char* kRecordsArrive = R"(
CREATE FUNCTION kivo_keep_conflict_records() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET enable_seqscan = off AS $$
DECLARE
  held jsonb;
  latest jsonb;
  top integer;
  arrived jsonb := to_jsonb(NEW) - 'received_at';
BEGIN
  SELECT to_jsonb(o) - 'received_at' INTO held FROM records o
    WHERE o.test_uid = NEW.test_uid AND o.number = NEW.number AND o.revision = NEW.revision;
  IF NOT FOUND THEN
    RETURN NEW;
  END IF;
  IF held = arrived THEN
    RETURN NULL;
  END IF;
  SELECT to_jsonb(o) - 'received_at', o.revision INTO latest, top FROM records o
    WHERE o.test_uid = NEW.test_uid AND o.number = NEW.number ORDER BY o.revision DESC LIMIT 1;
  IF latest - 'revision' = arrived - 'revision' THEN
    RETURN NULL;
  END IF;
  NEW.revision := top + 1;
  RETURN NEW;
END $$;
CREATE TRIGGER records_conflicts_kept BEFORE INSERT ON records
  FOR EACH ROW EXECUTE FUNCTION kivo_keep_conflict_records();
)";

}  // namespace

std::string HeaderTextSql(const char* alias) {
    return RowText(
        alias,
        {"test_date",     "start_time",    "started_at_ms", "user_name",       "port_index",
         "port_name",     "port_device",   "voltage",       "test_minutes",    "record_interval",
         "diameter",      "tester",        "organisation",  "specimen_no_0",   "specimen_no_1",
         "specimen_no_2", "specimen_no_3", "specimen_no_4", "specimen_no_5",   "specimen_no_6",
         "specimen_no_7", "specimen_no_8", "channel_off_1", "channel_off_2",   "channel_off_3",
         "channel_off_4", "channel_off_5", "channel_off_6", "program_version", "uid"});
}

std::string StateTextSql(const char* alias) {
    return RowText(alias, {"ordinal", "state", "at_ms"});
}

std::string RecordTextSql(const char* alias) {
    return RowText(alias, {"number", "minutes", "temperature", "at_ms", KIVO_CHANNELS});
}

std::string PollTextSql(const char* alias) {
    return RowText(alias, {"seq", "at_ms", "minutes", "voltage", "temperature", KIVO_CHANNELS});
}

std::string PollTimeTextSql(const char* alias) {
    return RowText(alias, {"at_ms", "minutes", "voltage", "temperature", KIVO_CHANNELS});
}

#undef KIVO_CHANNELS

std::string CheckedRowsStep() {
    std::string sql = R"(
CREATE FUNCTION kivo_row_hash(row_text text) RETURNS numeric
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT ('x' || left(md5(row_text), 15))::bit(60)::bigint::numeric
$$;
CREATE TABLE test_accounts (
  test_uid text PRIMARY KEY REFERENCES tests (uid),
  polls bigint NOT NULL,
  polls_sum numeric NOT NULL
);
INSERT INTO test_accounts (test_uid, polls, polls_sum)
  SELECT p.test_uid, count(*), sum(kivo_row_hash()" +
                      PollTextSql("p") + R"()) FROM polls p GROUP BY p.test_uid;
CREATE FUNCTION kivo_count_polls() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER AS $$
BEGIN
  INSERT INTO test_accounts AS a (test_uid, polls, polls_sum)
    SELECT p.test_uid, count(*), sum(kivo_row_hash()" +
                      PollTextSql("p") + R"())
    FROM arrived p GROUP BY p.test_uid ORDER BY 1
  ON CONFLICT (test_uid) DO UPDATE SET
    polls = a.polls + excluded.polls, polls_sum = a.polls_sum + excluded.polls_sum;
  RETURN NULL;
END $$;
CREATE TRIGGER polls_counted AFTER INSERT ON polls REFERENCING NEW TABLE AS arrived
  FOR EACH STATEMENT EXECUTE FUNCTION kivo_count_polls();
CREATE FUNCTION kivo_uncount_polls() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER AS $$
BEGIN
  UPDATE test_accounts a SET polls = a.polls - gone.n, polls_sum = a.polls_sum - gone.total
    FROM (SELECT p.test_uid, count(*) AS n, sum(kivo_row_hash()" +
                      PollTextSql("p") + R"()) AS total
          FROM removed p GROUP BY p.test_uid) gone
    WHERE a.test_uid = gone.test_uid;
  RETURN NULL;
END $$;
CREATE TRIGGER polls_uncounted AFTER DELETE ON polls REFERENCING OLD TABLE AS removed
  FOR EACH STATEMENT EXECUTE FUNCTION kivo_uncount_polls();
CREATE FUNCTION kivo_test_accounts(uids text[])
RETURNS TABLE (uid text, header numeric, states bigint, states_sum numeric, records bigint,
               records_sum numeric, polls bigint, polls_sum numeric)
LANGUAGE sql STABLE AS $$
  SELECT u.uid,
    (SELECT kivo_row_hash()" +
                      HeaderTextSql("t") + R"() FROM tests t WHERE t.uid = u.uid),
    s.n, coalesce(s.total, 0), r.n, coalesce(r.total, 0),
    coalesce(a.polls, 0), coalesce(a.polls_sum, 0)
  FROM unnest(uids) AS u (uid)
  CROSS JOIN LATERAL (
    SELECT count(*) AS n, sum(kivo_row_hash()" +
                      StateTextSql("c") + R"()) AS total
    FROM state_changes c WHERE c.test_uid = u.uid) s
  CROSS JOIN LATERAL (
    SELECT count(*) AS n, sum(kivo_row_hash()" +
                      RecordTextSql("l") + R"()) AS total
    FROM (SELECT DISTINCT ON (x.number) x.* FROM records x WHERE x.test_uid = u.uid
          ORDER BY x.number, x.revision DESC) l) r
  LEFT JOIN test_accounts a ON a.test_uid = u.uid
$$;
CREATE TABLE conflicts (
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  table_name text NOT NULL,
  row_key text NOT NULL,
  test_uid text,
  held jsonb NOT NULL,
  arrived jsonb NOT NULL,
  sent_by text NOT NULL DEFAULT session_user,
  received_at timestamptz NOT NULL DEFAULT now()
);
CREATE UNIQUE INDEX conflicts_once ON conflicts (table_name, row_key, md5(arrived::text));
CREATE INDEX conflicts_of_test ON conflicts (test_uid);
)";
    sql += KeepConflicts("tests", "o.uid = NEW.uid", "NEW.uid", "NEW.uid", " - 'bench_id'",
                         kHeldTestOfCaller);
    sql += KeepConflicts("state_changes", "o.test_uid = NEW.test_uid AND o.ordinal = NEW.ordinal",
                         "NEW.test_uid || ' ' || NEW.ordinal", "NEW.test_uid", "", kTestOfCaller);
    sql += kRecordsArrive;
    sql += kPollsArrive;
    sql +=
        KeepConflicts("audit_events", "o.uid = NEW.uid", "NEW.uid", "NEW.test_uid", " - 'bench_id'",
                      "EXISTS (SELECT 1 FROM audit_events o JOIN benches b ON b.id = o.bench_id "
                      "WHERE o.uid = NEW.uid AND b.role_name = session_user)");
    return sql;
}

std::string ReplaceTestConflicts(const std::string& ignored) {
    return KeepConflictsFunction("CREATE OR REPLACE FUNCTION ", "tests", "o.uid = NEW.uid",
                                 "NEW.uid", "NEW.uid", ignored, kHeldTestOfCaller);
}

}  // namespace server
