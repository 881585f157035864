#include "support/pg_cluster.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>

#include "server/pg_connection.h"

namespace {

// The newest server's programs of the Debian packages, or those on the PATH.
QString ServerBinaries() {
    QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(found.begin(), found.end(),
              [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
    for (const QString& v : found)
        if (QFile::exists(versions.filePath(v + QStringLiteral("/bin/initdb"))))
            return versions.filePath(v + QStringLiteral("/bin"));
    return {};
}

// A port on 127.0.0.1 that nothing listens on just now.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool AsRoot() { return ::geteuid() == 0; }

// Runs a server program, as the user postgres when we are root, its output into a file;
// started with fork and exec (QProcess starts children in a way ThreadSanitizer cannot follow,
// which then loses track of the parent's locks).
bool RunServerProgram(const QString& program, const QStringList& args, int timeoutMs,
                      QString* output) {
    QStringList argv = args;
    argv.prepend(program);
    if (AsRoot())
        argv = QStringList{QStringLiteral("/usr/sbin/runuser"), QStringLiteral("-u"),
                           QStringLiteral("postgres"), QStringLiteral("--")} +
               argv;
    std::vector<QByteArray> bytes;
    for (const QString& a : argv) bytes.push_back(QFile::encodeName(a));
    std::vector<char*> pointers;
    for (QByteArray& b : bytes) pointers.push_back(b.data());
    pointers.push_back(nullptr);
    char outName[] = "/tmp/kivo-pg-out-XXXXXX";
    const int out = ::mkstemp(outName);
    if (out < 0) return false;
    ::unlink(outName);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, STDIN_FILENO);
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    int status = -1;
    bool finished = false;
    if (pid > 0) {
        for (int waited = 0; waited <= timeoutMs; waited += 10) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                finished = true;
                break;
            }
            ::usleep(10000);
        }
        if (!finished) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
    }
    QFile file;
    if (output && file.open(out, QIODevice::ReadOnly)) {
        file.seek(0);
        *output = finished ? QString::fromLocal8Bit(file.readAll())
                           : program + QStringLiteral(" did not finish");
    }
    file.close();
    ::close(out);
    return finished && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Clusters left by a test program that died before it could stop them: their owner's pid is
// gone. They are stopped and removed.
void RemoveOrphans(const QString& bin) {
    QDir tmp(QStringLiteral("/tmp"));
    for (const QString& name :
         tmp.entryList({QStringLiteral("kivo-pg-*")}, QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile owner(tmp.filePath(name + QStringLiteral("/owner.pid")));
        if (!owner.open(QIODevice::ReadOnly)) continue;
        const pid_t pid = pid_t(owner.readAll().trimmed().toLongLong());
        if (pid <= 0 || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
        RunServerProgram(
            bin + QStringLiteral("/pg_ctl"),
            {QStringLiteral("-D"), tmp.filePath(name + QStringLiteral("/data")),
             QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("stop")},
            30000, nullptr);
        QDir(tmp.filePath(name)).removeRecursively();
    }
}

}  // namespace

PgCluster::PgCluster() {
    m_bin = ServerBinaries();
    if (m_bin.isEmpty()) {
        m_error = QStringLiteral("PostgreSQL's server programs are not installed");
        return;
    }
    RemoveOrphans(m_bin);
    // Under /tmp: short enough for a socket path and reachable by the server's user.
    m_dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/kivo-pg-XXXXXX"));
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    if (AsRoot()) {
        const passwd* pg = ::getpwnam("postgres");
        if (!pg || ::chown(m_dir->path().toLocal8Bit().constData(), pg->pw_uid, pg->pw_gid) != 0) {
            m_error = QStringLiteral("no user postgres to run the server as");
            return;
        }
    }
    QFile owner(m_dir->filePath(QStringLiteral("owner.pid")));
    if (owner.open(QIODevice::WriteOnly)) owner.write(QByteArray::number(qint64(::getpid())));
    owner.close();
    m_port = FreePort();
    if (!run(m_bin + QStringLiteral("/initdb"),
             {QStringLiteral("-D"), dataDir(), QStringLiteral("-U"), QStringLiteral("postgres"),
              QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--no-locale"),
              QStringLiteral("--auth=trust"), QStringLiteral("--no-sync")})) {
        if (m_error.isEmpty()) m_error = QStringLiteral("initdb failed");
        return;
    }
    QFile hba(dataDir() + QStringLiteral("/pg_hba.conf"));
    QFile conf(dataDir() + QStringLiteral("/postgresql.conf"));
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate) || !conf.open(QIODevice::Append)) {
        m_error = QStringLiteral("cannot write the cluster's configuration");
        return;
    }
    hba.write(
        "local all all trust\n"
        "host all postgres 127.0.0.1/32 trust\n"
        "host all all 127.0.0.1/32 scram-sha-256\n");
    conf.write(QStringLiteral("port = %1\nlisten_addresses = '127.0.0.1'\n"
                              "unix_socket_directories = '%2'\nfsync = off\n"
                              "full_page_writes = off\nmax_connections = 200\n"
                              "shared_buffers = 32MB\n")
                   .arg(m_port)
                   .arg(socketDir())
                   .toUtf8());
}

PgCluster::~PgCluster() {
    if (m_running) stopImmediate();
}

QString PgCluster::socketDir() const { return m_dir ? m_dir->path() : QString(); }
QString PgCluster::dataDir() const { return socketDir() + QStringLiteral("/data"); }

QString PgCluster::uri(const QString& database, const QString& user) const {
    return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(user).arg(m_port).arg(database);
}

bool PgCluster::run(const QString& program, const QStringList& args, int timeoutMs) {
    QString output;
    const bool ok = RunServerProgram(program, args, timeoutMs, &output);
    if (!ok) m_error = program + QStringLiteral(": ") + output;
    return ok;
}

bool PgCluster::pgCtl(const QStringList& args) {
    return run(m_bin + QStringLiteral("/pg_ctl"),
               QStringList{QStringLiteral("-D"), dataDir(), QStringLiteral("-l"),
                           socketDir() + QStringLiteral("/server.log")} +
                   args);
}

bool PgCluster::start() {
    if (!valid()) return false;
    m_running = pgCtl({QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
                       QStringLiteral("start")});
    if (m_running) m_error.clear();
    return m_running;
}

bool PgCluster::stop() {
    const bool ok = pgCtl({QStringLiteral("-w"), QStringLiteral("-m"), QStringLiteral("fast"),
                           QStringLiteral("stop")});
    if (ok) m_running = false;
    return ok;
}

bool PgCluster::stopImmediate() {
    const bool ok = pgCtl({QStringLiteral("-w"), QStringLiteral("-m"), QStringLiteral("immediate"),
                           QStringLiteral("stop")});
    if (ok) m_running = false;
    return ok;
}

bool PgCluster::restart() {
    if (m_running && !stop()) return false;
    return start();
}

QString PgCluster::sql(const QString& statements, const QString& database) {
    try {
        server::PgConnection db({uri(database), {}, 10, QStringLiteral("kivo-test")});
        db.execScript(statements.toUtf8().constData());
        return {};
    } catch (const server::PgError& e) {
        return e.message + QStringLiteral(": ") + e.detail;
    }
}

QString PgCluster::query(const QString& select, const QString& database) {
    try {
        server::PgConnection db({uri(database), {}, 10, QStringLiteral("kivo-test")});
        const server::PgResult result = db.exec(select.toUtf8().constData());
        return result.rows() > 0 ? result.text(0, 0) : QString();
    } catch (const server::PgError&) {
        return {};
    }
}

bool PgCluster::createRole(const QString& name, const QString& password) {
    return sql(QStringLiteral("CREATE ROLE \"%1\" LOGIN PASSWORD '%2'").arg(name, password))
        .isEmpty();
}

bool PgCluster::createDatabase(const QString& name, const QString& owner) {
    QString statement = QStringLiteral("CREATE DATABASE \"%1\"").arg(name);
    if (!owner.isEmpty()) statement += QStringLiteral(" OWNER \"%1\"").arg(owner);
    return sql(statement).isEmpty();
}

QString PgCluster::log() const {
    QFile file(socketDir() + QStringLiteral("/server.log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
