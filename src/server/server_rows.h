#pragma once

#include <QString>

#include "archive/archive_rows.h"
#include "server/pg_connection.h"

// How the archive's rows sit in the server's tables, both ways: the column lists a reader
// selects, the parameters a sender binds and the rows read back. A row read back equals the
// row the bench archived (null texts stay null, empty ones empty).
namespace server {

// Column lists, in the order the functions below read and bind them.
extern const char* const kTestColumns;    // of tests, without bench_id
extern const char* const kRecordColumns;  // of records, without test_uid and revision
extern const char* const kPollColumns;    // of polls, without test_uid and seq

// Appends the header's values in kTestColumns order.
void AddHeader(PgParams& params, const archive::TestHeader& header);
archive::TestHeader HeaderAt(const PgResult& result, int row, int firstColumn = 0);

void AddRecord(PgParams& params, const archive::RecordRow& record);
archive::RecordRow RecordAt(const PgResult& result, int row, int firstColumn = 0);

void AddPoll(PgParams& params, const archive::PollRow& poll);
archive::PollRow PollAt(const PgResult& result, int row, int firstColumn = 0);

// The number of columns in each list.
constexpr int kTestColumnCount = 30;
constexpr int kRecordColumnCount = 16;
constexpr int kPollColumnCount = 16;

// "($1, $2, ...), ($n+1, ...)": `rows` rows of `columns` parameters each, numbered from
// `firstParameter` on.
QByteArray ValuesList(int rows, int columns, int firstParameter = 1);

}  // namespace server
