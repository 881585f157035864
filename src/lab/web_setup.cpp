#include "lab/web_setup.h"

#include <QStringList>

#include "lab/embedded_live_sql.h"
#include "server/server_schema.h"

namespace lab {
namespace {

// The role: made here when the owner may make roles; otherwise the administrator makes it
// (as PostgreSQL's superuser, with its password) and the set-up grants what it needs.
constexpr const char* kRoleStep = R"(
DO $$
BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_catalog.pg_roles WHERE rolname = 'kivo_web') THEN
    BEGIN
      CREATE ROLE kivo_web LOGIN;
    EXCEPTION WHEN insufficient_privilege THEN
      RAISE EXCEPTION 'kivo_web_role_missing';
    END;
  END IF;
END $$;
)";

// What the role may do: read the lab's tables, work out a test's account, keep the web
// accounts. Nothing else: no INSERT, UPDATE or DELETE on test data, no temporary tables.
constexpr const char* kGrantStep = R"(
CREATE TABLE IF NOT EXISTS kivo_web_schema (
  version integer PRIMARY KEY
);
CREATE TABLE IF NOT EXISTS kivo_web_users (
  name text PRIMARY KEY CHECK (length(name) BETWEEN 1 AND 64),
  hash text NOT NULL,
  created timestamptz NOT NULL DEFAULT now()
);
DO $$
BEGIN
  EXECUTE format('GRANT USAGE ON SCHEMA %I TO kivo_web', current_schema());
END $$;
GRANT SELECT ON kivo_schema, kivo_server, benches, tests, state_changes, records, polls,
  audit_events, test_summaries, test_accounts, kivo_web_schema TO kivo_web;
GRANT SELECT, INSERT, UPDATE ON kivo_web_users TO kivo_web;
GRANT EXECUTE ON FUNCTION kivo_test_accounts(text[]), kivo_row_hash(text) TO kivo_web;
REVOKE INSERT, UPDATE, DELETE, TRUNCATE, REFERENCES, TRIGGER ON kivo_schema, kivo_server,
  benches, tests, state_changes, records, polls, audit_events, test_summaries, test_accounts,
  conflicts, kivo_web_schema FROM kivo_web;
REVOKE DELETE, TRUNCATE ON kivo_web_users FROM kivo_web;
REVOKE ALL ON kivo_web_users, kivo_web_schema FROM PUBLIC;
DO $$
DECLARE
  grantee name;
BEGIN
  -- The accounts' hashes are for the service alone: the benches' group (which may read every
  -- table the owner makes) and any other role lose what they were given.
  FOR grantee IN
    SELECT DISTINCT r.rolname
      FROM pg_catalog.pg_class c, aclexplode(c.relacl) a, pg_catalog.pg_roles r
     WHERE c.oid IN ('kivo_web_users'::regclass, 'kivo_web_schema'::regclass)
       AND r.oid = a.grantee AND a.grantee <> c.relowner AND r.rolname <> 'kivo_web'
  LOOP
    EXECUTE format('REVOKE ALL ON kivo_web_users, kivo_web_schema FROM %I', grantee);
  END LOOP;
END $$;
)";

// The list's searches: the tester and the organisation each, the specimen numbers, and a
// report number's own part of the uid (the verify page finds a test by it).
constexpr const char* kIndicesStep = R"(
DO $$
BEGIN
  BEGIN
    CREATE EXTENSION IF NOT EXISTS pg_trgm;
  EXCEPTION WHEN OTHERS THEN
    NULL;  -- not installed, or not ours to make: those searches read the summaries through
  END;
  IF EXISTS (SELECT 1 FROM pg_catalog.pg_extension WHERE extname = 'pg_trgm') THEN
    CREATE INDEX IF NOT EXISTS kivo_web_tester ON test_summaries USING gin (tester gin_trgm_ops);
    CREATE INDEX IF NOT EXISTS kivo_web_organisation
      ON test_summaries USING gin (organisation gin_trgm_ops);
  END IF;
END $$;
CREATE INDEX IF NOT EXISTS kivo_web_specimens ON tests USING gin ((ARRAY[specimen_no_0,
  specimen_no_1, specimen_no_2, specimen_no_3, specimen_no_4, specimen_no_5, specimen_no_6,
  specimen_no_7, specimen_no_8]));
CREATE INDEX IF NOT EXISTS kivo_web_report_key
  ON tests ((upper(left(regexp_replace(uid, '[^A-Za-z0-9]', '', 'g'), 8))));
INSERT INTO kivo_web_schema (version) VALUES (1) ON CONFLICT DO NOTHING;
)";

}  // namespace

int WebSchemaVersion(server::PgConnection& db) {
    const server::PgResult exists = db.exec("SELECT to_regclass('kivo_web_schema') IS NOT NULL");
    if (exists.text(0, 0) != QStringLiteral("t")) return 0;
    const server::PgResult v = db.exec("SELECT coalesce(max(version), 0) FROM kivo_web_schema");
    return int(v.integer(0, 0));
}

QString SetUpWebService(server::PgConnection& owner) {
    QStringList done;
    // The lab's own tables first, as a bench makes them, only when there are none: the
    // benches' tables are theirs to upgrade, and a service of another version reads them wrong.
    const int found = server::ServerSchemaVersion(owner);
    if (found == 0) {
        server::PrepareServerSchema(owner);
        done << QStringLiteral("已建立实验室数据表");
    } else if (found != server::kServerSchemaVersion) {
        throw server::PgError(
            server::PgError::Kind::Refused,
            found < server::kServerSchemaVersion
                ? QStringLiteral("数据库中的实验室数据表是第 %1 版，本版 kivo-lab 需要第 %2 版。"
                                 "请先升级各实验台的程序（由实验台升级数据表），再运行 --setup；"
                                 "数据库未做任何改动。")
                      .arg(found)
                      .arg(server::kServerSchemaVersion)
                : QStringLiteral("数据库中的实验室数据表是第 %1 版，较本版 kivo-lab（第 %2 版）"
                                 "新。请先升级 kivo-lab，再运行 --setup；数据库未做任何改动。")
                      .arg(found)
                      .arg(server::kServerSchemaVersion));
    }
    const int webBefore = WebSchemaVersion(owner);
    if (webBefore > kWebSchemaVersion)
        throw server::PgError(server::PgError::Kind::Refused,
                              QStringLiteral("数据库中的网页服务数据表版本较新（第 %1 版），"
                                             "请使用新版本的 kivo-lab")
                                  .arg(webBefore));
    server::PgTransaction transaction(owner);
    owner.execScript("SELECT pg_advisory_xact_lock(7405200127)");
    try {
        owner.execScript(kRoleStep);
    } catch (const server::PgError& e) {
        if (!e.detail.contains(QStringLiteral("kivo_web_role_missing"))) throw;
        throw server::PgError(
            server::PgError::Kind::Refused,
            QStringLiteral("角色 kivo_web 不存在，当前用户也无权建立角色。请先以数据库超级用户"
                           "建立它：sudo -u postgres createuser --pwprompt kivo_web"),
            e.detail, e.sqlState);
    }
    owner.execScript(kGrantStep);
    owner.execScript(kIndicesStep);
    if (QByteArray(kKivoLabLiveSql).trimmed().size() > 0) {
        owner.execScript(kKivoLabLiveSql);
        done << QStringLiteral("已安装实验台的通知触发器");
    }
    transaction.commit();
    done << QStringLiteral("角色 kivo_web 的权限与网页服务数据表已就绪（第 %1 版）")
                .arg(kWebSchemaVersion);
    return done.join(u'\n');
}

}  // namespace lab
