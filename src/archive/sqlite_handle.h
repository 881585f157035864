#pragma once

#include <sqlite3.h>

#include <QString>
#include <optional>
#include <stdexcept>

// A thin C++ face on the sqlite3 C library for the archive: a connection and its prepared
// statements as owning objects, and every failed call turned into an SqlError that keeps the
// library's result code and the system's errno, so the caller can tell a full disk from a
// locked archive and say so.
namespace archive {

struct SqlError : std::runtime_error {
    SqlError(int code, int systemErrno, const std::string& what)
        : std::runtime_error(what), code(code), systemErrno(systemErrno) {}
    int primary() const { return code & 0xff; }
    int code;         // extended result code
    int systemErrno;  // errno of the failing system call, 0 when none
};

class Connection {
  public:
    // Opens (flags as for sqlite3_open_v2); throws SqlError when the library refuses.
    Connection(const QString& path, int flags);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* get() const { return m_db; }
    // Runs one or more statements that return no rows.
    void exec(const char* sql);
    // The first column of the first row of a query, as an integer or a text.
    qint64 queryInt(const char* sql);
    QString queryText(const char* sql);
    // Throws the connection's present error when `rc` is not a success code.
    void check(int rc) const;

  private:
    sqlite3* m_db = nullptr;
};

class Statement {
  public:
    Statement(Connection& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Binds from parameter 1 on; a null QString binds SQL NULL.
    Statement& bind(int index, qint64 value);
    Statement& bind(int index, const QString& value);
    Statement& bind(int index, std::optional<int> value);
    Statement& bindNull(int index);
    // Binds a text that is never NULL: a null QString becomes ''.
    Statement& bindText(int index, const QString& value);

    // One step: true while a row is there, false when done.
    bool step();
    // Runs a statement that returns no rows, then makes it ready for the next binding.
    void run();
    void reset();

    bool isNull(int column) const;
    qint64 integer(int column) const;
    std::optional<int> optionalInt(int column) const;
    // NULL reads back as a null QString, '' as an empty one.
    QString text(int column) const;

  private:
    Connection& m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

// An open write transaction: BEGIN IMMEDIATE at construction (so a busy archive is waited for
// before anything is read), ROLLBACK at destruction unless committed.
class WriteTransaction {
  public:
    // Immediate takes the write lock at once; Deferred reads first, in one snapshot, and
    // becomes a write at its first change (which fails when another connection wrote since).
    enum class Begin { Immediate, Deferred };
    explicit WriteTransaction(Connection& db, Begin begin = Begin::Immediate);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;
    void commit();

  private:
    Connection& m_db;
    bool m_done = false;
};

}  // namespace archive
