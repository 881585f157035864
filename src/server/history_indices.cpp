#include "server/history_indices.h"

namespace server {

const char* const kHistoryIndicesStep =
    "CREATE INDEX IF NOT EXISTS test_summaries_newest_first\n"
    "  ON test_summaries (started_at_ms DESC, test_uid DESC);\n"
    "CREATE INDEX IF NOT EXISTS test_summaries_of_bench\n"
    "  ON test_summaries (bench_id, started_at_ms DESC, test_uid DESC);\n"
    "DO $$\n"
    "BEGIN\n"
    "  BEGIN\n"
    "    CREATE EXTENSION IF NOT EXISTS pg_trgm;\n"
    "  EXCEPTION WHEN OTHERS THEN\n"
    "    RETURN;  -- not installed, or not ours to create: the search goes without an index\n"
    "  END;\n"
    "  EXECUTE 'CREATE INDEX IF NOT EXISTS test_summaries_search ON test_summaries '\n"
    "    'USING gin ((' || $q$" KIVO_TEST_SEARCH_TEXT
    "$q$ || ') gin_trgm_ops)';\n"
    "END $$;\n";

}  // namespace server
