#include "archive/sqlite_handle.h"

#include <QFile>
#include <string>

namespace archive {
namespace {

[[noreturn]] void Throw(sqlite3* db, int rc) {
    const int code = db != nullptr ? sqlite3_extended_errcode(db) : rc;
    // The connection's code can lag behind a step's result; trust the step.
    const int used = (code & 0xff) == (rc & 0xff) ? code : rc;
    const int sys = db != nullptr ? sqlite3_system_errno(db) : 0;
    std::string text = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw SqlError(used, sys, text);
}

}  // namespace

Connection::Connection(const QString& path, int flags) {
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_extended_result_codes(m_db, 1);
        try {
            Throw(m_db, rc);
        } catch (...) {
            sqlite3_close_v2(m_db);
            m_db = nullptr;
            throw;
        }
    }
    sqlite3_extended_result_codes(m_db, 1);
}

Connection::~Connection() { sqlite3_close_v2(m_db); }

void Connection::check(int rc) const {
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) Throw(m_db, rc);
}

void Connection::exec(const char* sql) {
    check(sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr));
}

qint64 Connection::queryInt(const char* sql) {
    Statement s(*this, sql);
    return s.step() ? s.integer(0) : 0;
}

QString Connection::queryText(const char* sql) {
    Statement s(*this, sql);
    return s.step() ? s.text(0) : QString();
}

Statement::Statement(Connection& db, const char* sql) : m_db(db) {
    m_db.check(sqlite3_prepare_v2(db.get(), sql, -1, &m_stmt, nullptr));
}

Statement::~Statement() { sqlite3_finalize(m_stmt); }

Statement& Statement::bind(int index, qint64 value) {
    m_db.check(sqlite3_bind_int64(m_stmt, index, value));
    return *this;
}

Statement& Statement::bind(int index, const QString& value) {
    if (value.isNull()) return bindNull(index);
    return bindText(index, value);
}

Statement& Statement::bind(int index, std::optional<int> value) {
    return value ? bind(index, qint64{*value}) : bindNull(index);
}

Statement& Statement::bindNull(int index) {
    m_db.check(sqlite3_bind_null(m_stmt, index));
    return *this;
}

Statement& Statement::bindText(int index, const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    m_db.check(
        sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT));
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlite3_reset(m_stmt);
    Throw(m_db.get(), rc);
}

void Statement::run() {
    while (step()) {
    }
    reset();
}

void Statement::reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

qint64 Statement::integer(int column) const { return sqlite3_column_int64(m_stmt, column); }

std::optional<int> Statement::optionalInt(int column) const {
    if (isNull(column)) return std::nullopt;
    return int(sqlite3_column_int64(m_stmt, column));
}

QString Statement::text(int column) const {
    if (isNull(column)) return QString();
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    QString value = QString::fromUtf8(data, size);
    // An empty text stays a text, apart from NULL.
    if (value.isNull()) value = QLatin1String("");
    return value;
}

WriteTransaction::WriteTransaction(Connection& db, Begin begin) : m_db(db) {
    m_db.exec(begin == Begin::Immediate ? "BEGIN IMMEDIATE" : "BEGIN");
}

WriteTransaction::~WriteTransaction() {
    if (!m_done && !sqlite3_get_autocommit(m_db.get()))
        sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void WriteTransaction::commit() {
    m_db.exec("COMMIT");
    m_done = true;
}

}  // namespace archive
