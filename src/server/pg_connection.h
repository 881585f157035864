#pragma once

#include <libpq-fe.h>

#include <QByteArray>
#include <QString>
#include <optional>
#include <stdexcept>
#include <vector>

// A thin C++ face on libpq for the lab server: a connection and a result as owning objects,
// statements with their parameters passed apart from the SQL text, and every failure turned
// into a PgError whose text the operator can read (Chinese, never holding the password).
namespace server {

struct PgError : std::runtime_error {
    enum class Kind {
        Unreachable,     // no connection: host unknown, refused, timed out, connection lost
        Authentication,  // the server refused the user or the password
        Refused,         // the server answered with an error (privileges, schema, constraint)
        Cancelled,       // the interrupt was triggered
    };
    PgError(Kind kind, const QString& message, const QString& detail = {}, QByteArray sqlState = {})
        : std::runtime_error(message.toStdString()),
          kind(kind),
          message(message),
          detail(detail),
          sqlState(std::move(sqlState)) {}
    Kind kind;
    QString message;      // for the operator: a short Chinese cause ("用户名或密码错误")
    QString detail;       // the library's or the server's own words, password removed
    QByteArray sqlState;  // five characters when the server sent one
};

// The parameters of one statement: $1, $2, ... in the order added. A null QString and an
// empty optional are SQL NULL; texts go as UTF-8.
class PgParams {
  public:
    PgParams& add(const QString& text);
    PgParams& add(qint64 value);
    PgParams& add(std::optional<int> value);
    PgParams& addNull();
    int size() const { return int(m_values.size()); }
    const std::vector<std::optional<QByteArray>>& values() const { return m_values; }

  private:
    std::vector<std::optional<QByteArray>> m_values;
};

class PgResult {
  public:
    explicit PgResult(PGresult* result = nullptr) : m_result(result) {}
    ~PgResult();
    PgResult(PgResult&& other) noexcept : m_result(other.m_result) { other.m_result = nullptr; }
    PgResult& operator=(PgResult&& other) noexcept;
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;

    int rows() const;
    int columns() const;
    bool isNull(int row, int column) const;
    // NULL reads back as a null QString, '' as an empty one.
    QString text(int row, int column) const;
    qint64 integer(int row, int column) const;  // 0 for NULL
    std::optional<int> optionalInt(int row, int column) const;
    // Rows changed by an INSERT/UPDATE/DELETE.
    int affected() const;
    // The library's result, for reading values in place.
    PGresult* get() const { return m_result; }

  private:
    PGresult* m_result;
};

// Asks the server to stop the statement under way on `conn` (PQcancel). The request is a
// connection of its own, which a hung server may keep waiting for ever, so it is made by a
// child process watched by a thread of its own, ended after 10 seconds; at most two at a time
// in the whole program (when two are still waiting, no more are made: the server's own
// statement limit ends the statement). Waits up to `waitMs` for the server to take the
// request; true when it did.
bool RequestCancel(PGconn* conn, int waitMs);
// Cancel requests under way now.
int CancelsUnderWay();

// Lets another thread break off a connection's wait for the server (connecting or a statement
// under way): trigger() makes the wait end at once with PgError::Kind::Cancelled.
class PgInterrupt {
  public:
    PgInterrupt();
    ~PgInterrupt();
    PgInterrupt(const PgInterrupt&) = delete;
    PgInterrupt& operator=(const PgInterrupt&) = delete;
    void trigger();  // any thread
    void reset();
    bool triggered() const;
    int fd() const { return m_fd; }

  private:
    int m_fd = -1;
};

class PgConnection {
  public:
    struct Options {
        QString conninfo;  // a libpq URI or "key=value" string
        QString password;  // kept out of the conninfo so that no message can show it
        int connectTimeoutSeconds = 5;
        QString applicationName = QStringLiteral("kivo");
        // How long a statement may take (0: no limit). The server is told the same limit for
        // the session (statement_timeout), half of it for a wait on a lock (lock_timeout) and
        // twice it for a session left idle inside a transaction, so that it ends a statement
        // or a session of ours itself, whatever became of this side. This side waits a little
        // longer, then asks the server to cancel (PQcancel) and drops the connection.
        int statementTimeoutMs = 0;
        // Waits end when this is triggered (it must outlive the connection).
        PgInterrupt* interrupt = nullptr;
        // The session may change nothing (default_transaction_read_only): a reader.
        bool readOnly = false;
    };
    // Connects; throws PgError when the server cannot be reached or refuses.
    explicit PgConnection(const Options& options);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    PGconn* get() const { return m_conn; }
    // False once the connection has been lost (a new one must be made).
    bool ok() const;
    // Connected, and no transaction open or left failed.
    bool idle() const;

    // One statement with parameters, results as text; throws PgError on failure.
    PgResult exec(const char* sql, const PgParams& params = {});
    // Several statements without parameters in one call (schema scripts).
    void execScript(const char* sql);

    // While it lives, this side waits for the server without a limit (an upgrade that lifted
    // the session's limits on the server too); a dead peer is still noticed by the keepalives
    // and the interrupt still ends the wait.
    class Unlimited {
      public:
        explicit Unlimited(PgConnection& db) : m_db(db), m_saved(db.m_statementTimeoutMs) {
            db.m_statementTimeoutMs = 0;
        }
        ~Unlimited() { m_db.m_statementTimeoutMs = m_saved; }
        Unlimited(const Unlimited&) = delete;
        Unlimited& operator=(const Unlimited&) = delete;

      private:
        PgConnection& m_db;
        int m_saved;
    };

    // The server's version number (150004 for 15.4).
    int serverVersion() const;
    bool usesTls() const;

  private:
    PGconn* m_conn = nullptr;
    QString m_password;
    PgInterrupt* m_interrupt = nullptr;
    int m_statementTimeoutMs = 0;
    [[noreturn]] void fail(PGresult* result) const;
    // The session's limits and mode as the options ask.
    void limitSession(const Options& options);
    // Waits for the statement sent and returns its last result (null when the wait ended).
    PGresult* awaitResult();
};

// BEGIN at construction, ROLLBACK at destruction unless committed (a lost connection is left
// alone: the server has rolled back already).
class PgTransaction {
  public:
    explicit PgTransaction(PgConnection& db);
    ~PgTransaction();
    PgTransaction(const PgTransaction&) = delete;
    PgTransaction& operator=(const PgTransaction&) = delete;
    void commit();

  private:
    PgConnection& m_db;
    bool m_done = false;
};

// The failure to connect that libpq's words `text` describe, as a PgError without the password.
PgError ConnectFailure(const QString& text, const QString& password);

}  // namespace server
