#include "server/start_labels_schema.h"

#include "server/checked_rows_schema.h"

namespace server {

std::string StartLabelsStep() {
    return R"(
ALTER TABLE tests ADD COLUMN host_name text, ADD COLUMN usb_serial text;
)" + ReplaceTestConflicts(" - 'bench_id' - 'host_name' - 'usb_serial'") +
           R"(
DO $$
BEGIN
  EXECUTE format('ALTER FUNCTION kivo_keep_conflict_tests() SET search_path = pg_catalog, %I, '
                 'pg_temp', current_schema());
END $$;
)";
}

}  // namespace server
