#pragma once

#include <string>

// The server's step to version 3, first half: what lets a bench check the server instead of
// believing its own marks, and what keeps a clashing row instead of dropping it.
//
// - The account of a test: how many state changes, records (their last revision) and polls
//   the server holds, and for each kind the sum of its rows' hashes (the first 60 bits of the
//   MD5 of a row's text, as RowText in test_account.h writes it), computed by the server from
//   the rows it holds. The polls' part is kept as they arrive (test_accounts), the rest is
//   counted when asked: kivo_test_accounts(uids).
// - A row whose key the server holds already with other content is kept in `conflicts`
//   (once however often it arrives) and the held row stays; the same row again is skipped.
namespace server {

std::string CheckedRowsStep();

// SQL expressions of a row's text, over the columns of the table aliased `alias`: the same
// text the benches hash (test_account.h).
std::string HeaderTextSql(const char* alias);
std::string StateTextSql(const char* alias);
std::string RecordTextSql(const char* alias);
std::string PollTextSql(const char* alias);
// A poll's text without its number: a poll is known by its time.
std::string PollTimeTextSql(const char* alias);

// The function that keeps a test header arriving with other content apart, made anew so that
// the columns `ignored` leaves out (a jsonb subtraction: " - 'bench_id' - ...") may differ.
// CREATE OR REPLACE drops the function's settings: the caller sets its search path again.
std::string ReplaceTestConflicts(const std::string& ignored);

}  // namespace server
