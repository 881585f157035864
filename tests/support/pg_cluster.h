#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// A private PostgreSQL cluster for a test: initdb into a temporary folder, the server on a
// socket in that folder and a free port on 127.0.0.1, stopped and removed at the end. As root
// the server's programs run as the user "postgres" (initdb refuses root).
//
// The superuser "postgres" connects without a password; every other role must give its
// password (scram-sha-256), so tests of a wrong password are real.
class PgCluster {
  public:
    // Creates the cluster; check valid() (error() says why not).
    PgCluster();
    ~PgCluster();  // stops the server at once and removes the folder
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    bool valid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }

    // pg_ctl start -w / stop -m fast / stop -m immediate / restart; true on success.
    bool start();
    bool stop();
    bool stopImmediate();
    bool restart();
    bool running() const { return m_running; }

    int port() const { return m_port; }
    QString socketDir() const;
    QString dataDir() const;

    // "postgresql://user@127.0.0.1:port/database" (no password: give it apart).
    QString uri(const QString& database, const QString& user = QStringLiteral("postgres")) const;

    // Runs SQL as the superuser in `database`; empty on success, else the server's words.
    QString sql(const QString& statements, const QString& database = QStringLiteral("postgres"));
    // The first column of the first row of a query as the superuser (empty on failure).
    QString query(const QString& select, const QString& database = QStringLiteral("postgres"));
    // A database (owned by `owner` when given) and a role with a password.
    bool createDatabase(const QString& name, const QString& owner = {});
    bool createRole(const QString& name, const QString& password);

    // The server's log so far (for a failing test's message).
    QString log() const;

  private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_bin;
    QString m_error;
    int m_port = 0;
    bool m_running = false;

    bool run(const QString& program, const QStringList& args, int timeoutMs = 60000);
    bool pgCtl(const QStringList& args);
};
