#pragma once

// The indices that the history window's list of the lab server reads by: every bench's tests
// newest first, one bench's tests newest first, and the search over the tester, the
// organisation and the date. Statements that may run again (IF NOT EXISTS); the search index
// needs the pg_trgm extension and is left out where the server cannot have it (the search
// then reads the summaries through).
namespace server {

extern const char* const kHistoryIndicesStep;

// The text a test is searched in: its tester, organisation and date as shown ("2026-12-8")
// and with zeros ("2026-12-08"), apart by a character nobody types. The same expression is
// indexed, so the reader must use it as it stands (on the table test_summaries).
#define KIVO_TEST_SEARCH_TEXT                                                   \
    "(tester || chr(31) || organisation || chr(31) || test_date || chr(31) || " \
    "regexp_replace(test_date, '-([0-9])(?=-|$)', '-0\\1', 'g'))"

}  // namespace server
