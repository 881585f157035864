#include "server/pg_connection.h"

#include <locale.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

namespace server {
namespace {

// The library's or the server's words with the password taken out, on one line.
QString Scrub(QString text, const QString& password) {
    if (!password.isEmpty()) text.replace(password, QStringLiteral("***"));
    return text.simplified();
}

bool Mentions(const QString& text, const char* words) {
    return text.contains(QLatin1String(words), Qt::CaseInsensitive);
}

}  // namespace

PgError ConnectFailure(const QString& text, const QString& password) {
    const QString detail = Scrub(text, password);
    using Kind = PgError::Kind;
    // The checks of the server's certificate first: their words name files and hosts.
    if (Mentions(detail, "root certificate file"))
        return PgError(Kind::Refused,
                       QStringLiteral("无法读取证书颁发机构文件，请在“实验室服务器”设置中选择"),
                       detail);
    if (Mentions(detail, "does not match host name"))
        return PgError(Kind::Refused,
                       QStringLiteral("服务器证书上的名称与服务器地址不符，可能连到了别的服务器"),
                       detail);
    if (Mentions(detail, "certificate verify failed"))
        return PgError(Kind::Refused,
                       QStringLiteral("服务器证书不是所选的证书颁发机构签发的，或已过期"), detail);
    if (Mentions(detail, "channel binding"))
        return PgError(Kind::Refused,
                       QStringLiteral("服务器没有做通道绑定（账户须使用 scram-sha-256 密码认证）"),
                       detail);
    if (Mentions(detail, "password authentication failed") ||
        Mentions(detail, "no password supplied") || Mentions(detail, "authentication failed") ||
        (Mentions(detail, "role \"") && Mentions(detail, "does not exist")))
        return PgError(Kind::Authentication, QStringLiteral("用户名或密码错误"), detail, "28P01");
    if (Mentions(detail, "database \"") && Mentions(detail, "does not exist"))
        return PgError(Kind::Refused, QStringLiteral("服务器上没有这个数据库"), detail, "3D000");
    if (Mentions(detail, "SSL was required") || Mentions(detail, "does not support SSL"))
        return PgError(Kind::Refused, QStringLiteral("服务器不支持加密连接"), detail);
    if (Mentions(detail, "no pg_hba.conf entry"))
        return PgError(Kind::Refused, QStringLiteral("服务器不允许本机连接"), detail, "28000");
    if (Mentions(detail, "could not translate host name"))
        return PgError(Kind::Unreachable, QStringLiteral("找不到服务器地址"), detail);
    if (Mentions(detail, "timeout expired") || Mentions(detail, "timed out"))
        return PgError(Kind::Unreachable, QStringLiteral("服务器没有应答"), detail);
    if (Mentions(detail, "Connection refused") || Mentions(detail, "No such file"))
        return PgError(Kind::Unreachable, QStringLiteral("服务器没有运行"), detail);
    if (Mentions(detail, "the database system is") || Mentions(detail, "shutting down"))
        return PgError(Kind::Unreachable, QStringLiteral("服务器正在启动或关闭"), detail);
    if (Mentions(detail, "invalid") || Mentions(detail, "missing"))
        return PgError(Kind::Refused, QStringLiteral("连接设置有误"), detail);
    return PgError(Kind::Unreachable, QStringLiteral("网络不通"), detail);
}

namespace {

using Clock = std::chrono::steady_clock;

// The calling thread's messages in the C locale while it lives: libpq's and the C library's
// words for a failure are read by ConnectFailure, which must see them untranslated whatever
// the operator's language (a Chinese desktop would otherwise turn a certificate for another
// name into 网络不通). Only this thread, and only the messages, change.
class UntranslatedMessages {
  public:
    UntranslatedMessages() {
        const locale_t base = ::duplocale(LC_GLOBAL_LOCALE);
        if (base == locale_t(0)) return;
        m_own = ::newlocale(LC_MESSAGES_MASK, "C", base);
        if (m_own == locale_t(0)) {
            ::freelocale(base);
            return;
        }
        m_was = ::uselocale(m_own);
    }
    ~UntranslatedMessages() {
        if (m_own == locale_t(0)) return;
        ::uselocale(m_was);
        ::freelocale(m_own);
    }
    UntranslatedMessages(const UntranslatedMessages&) = delete;
    UntranslatedMessages& operator=(const UntranslatedMessages&) = delete;

  private:
    locale_t m_own = locale_t(0);
    locale_t m_was = locale_t(0);
};

// How much longer than the server's own statement limit this side waits before it gives the
// statement up: the server's answer (an error naming the cause) normally comes first.
constexpr int kClientGraceMs = 3000;
// Cancel requests still waiting for a server; more are not made.
constexpr int kMaxCancelsUnderWay = 2;
std::atomic<int> g_cancelsUnderWay{0};

// Waits until the socket is ready for `events`, the interrupt is triggered or the deadline
// passes. 1: ready, 0: timed out, -1: interrupted.
int Wait(int socket, short events, const PgInterrupt* interrupt,
         std::optional<Clock::time_point> deadline) {
    for (;;) {
        pollfd fds[2] = {{socket, events, 0}, {interrupt ? interrupt->fd() : -1, POLLIN, 0}};
        int timeout = -1;
        if (deadline) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
            if (left.count() <= 0) return 0;
            timeout = int(std::min<qint64>(left.count(), 1 << 30));
        }
        const int n = ::poll(fds, interrupt ? 2 : 1, timeout);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return 1;  // let libpq find the fault
        if (interrupt && (fds[1].revents & POLLIN)) return -1;
        if (n == 0) return 0;
        return 1;
    }
}

}  // namespace

namespace {

// How long a cancel request may take in all: the request is a connection of its own to the
// server, which a server that accepts and never answers would keep waiting for ever.
constexpr int kCancelLimitMs = 10000;

// Sends the cancel request from a child process, which can be ended when the server keeps it
// waiting (a thread blocked in the library cannot): PQcancel is safe to call there, as it is
// in a signal handler. True when the server took the request.
bool CancelInChild(PGcancel* cancel) {
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        // The child holds nothing of the program's: not the serial port, the archive's hold
        // or a test's lock (the cancel is a connection of its own), and it dies with the
        // program, so a program killed meanwhile leaves no process behind keeping them.
        ::syscall(SYS_close_range, 3U, ~0U, 0U);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(1);
        char message[256];
        ::_exit(PQcancel(cancel, message, sizeof message) != 0 ? 0 : 1);
    }
    const int pidfd = int(::syscall(SYS_pidfd_open, child, 0));
    const auto deadline = Clock::now() + std::chrono::milliseconds(kCancelLimitMs);
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            ::kill(child, SIGKILL);
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            if (pidfd >= 0) ::close(pidfd);
            return false;
        }
        if (pidfd >= 0) {
            pollfd fd{pidfd, POLLIN, 0};
            ::poll(&fd, 1, int(std::min<qint64>(left, 1000)));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<qint64>(left, 20)));
        }
    }
    if (pidfd >= 0) ::close(pidfd);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int CancelsUnderWay() { return g_cancelsUnderWay.load(); }

bool RequestCancel(PGconn* conn, int waitMs) {
    if (!conn) return false;
    if (g_cancelsUnderWay.fetch_add(1) >= kMaxCancelsUnderWay) {
        g_cancelsUnderWay.fetch_sub(1);
        return false;
    }
    PGcancel* cancel = PQgetCancel(conn);
    if (!cancel) {
        g_cancelsUnderWay.fetch_sub(1);
        return false;
    }
    struct Outcome {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool sent = false;
    };
    auto outcome = std::make_shared<Outcome>();
    std::thread([cancel, outcome] {
        const bool sent = CancelInChild(cancel);
        PQfreeCancel(cancel);
        {
            std::lock_guard lock(outcome->mutex);
            outcome->finished = true;
            outcome->sent = sent;
        }
        outcome->done.notify_all();
        g_cancelsUnderWay.fetch_sub(1);
    }).detach();
    std::unique_lock lock(outcome->mutex);
    outcome->done.wait_for(lock, std::chrono::milliseconds(waitMs),
                           [&] { return outcome->finished; });
    return outcome->finished && outcome->sent;
}

PgInterrupt::PgInterrupt() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
PgInterrupt::~PgInterrupt() {
    if (m_fd >= 0) ::close(m_fd);
}
void PgInterrupt::trigger() {
    const uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_fd, &one, sizeof one);
}
void PgInterrupt::reset() {
    uint64_t value = 0;
    [[maybe_unused]] const auto read = ::read(m_fd, &value, sizeof value);
}
bool PgInterrupt::triggered() const {
    pollfd fd{m_fd, POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0;
}

PgParams& PgParams::add(const QString& text) {
    if (text.isNull())
        m_values.emplace_back(std::nullopt);
    else
        m_values.emplace_back(text.toUtf8());
    return *this;
}

PgParams& PgParams::add(qint64 value) {
    m_values.emplace_back(QByteArray::number(value));
    return *this;
}

PgParams& PgParams::add(std::optional<int> value) {
    if (value)
        m_values.emplace_back(QByteArray::number(*value));
    else
        m_values.emplace_back(std::nullopt);
    return *this;
}

PgParams& PgParams::addNull() {
    m_values.emplace_back(std::nullopt);
    return *this;
}

PgResult::~PgResult() {
    if (m_result) PQclear(m_result);
}

PgResult& PgResult::operator=(PgResult&& other) noexcept {
    if (this != &other) {
        if (m_result) PQclear(m_result);
        m_result = other.m_result;
        other.m_result = nullptr;
    }
    return *this;
}

int PgResult::rows() const { return m_result ? PQntuples(m_result) : 0; }
int PgResult::columns() const { return m_result ? PQnfields(m_result) : 0; }
bool PgResult::isNull(int row, int column) const { return PQgetisnull(m_result, row, column) != 0; }

QString PgResult::text(int row, int column) const {
    if (isNull(row, column)) return QString();
    const char* value = PQgetvalue(m_result, row, column);
    const int length = PQgetlength(m_result, row, column);
    return length == 0 ? QString(QLatin1String("")) : QString::fromUtf8(value, length);
}

qint64 PgResult::integer(int row, int column) const {
    return isNull(row, column) ? 0 : std::strtoll(PQgetvalue(m_result, row, column), nullptr, 10);
}

std::optional<int> PgResult::optionalInt(int row, int column) const {
    if (isNull(row, column)) return std::nullopt;
    return int(integer(row, column));
}

int PgResult::affected() const { return m_result ? std::atoi(PQcmdTuples(m_result)) : 0; }

PgConnection::PgConnection(const Options& options)
    : m_password(options.password),
      m_interrupt(options.interrupt),
      m_statementTimeoutMs(options.statementTimeoutMs) {
    const QByteArray conninfo = options.conninfo.toUtf8();
    const QByteArray password = options.password.toUtf8();
    const QByteArray application = options.applicationName.toUtf8();
    // Keepalives first, so that a conninfo may set its own; then the conninfo, expanded; what
    // follows overrides it. A peer that vanished without a word (a cable pulled, a machine
    // off) is noticed within about half a minute, in a wait for an answer as when idle.
    std::vector<const char*> keys{"keepalives",       "keepalives_idle",  "keepalives_interval",
                                  "keepalives_count", "tcp_user_timeout", "dbname",
                                  "application_name", "client_encoding"};
    std::vector<const char*> values{
        "1", "15", "5", "3", "30000", conninfo.constData(), application.constData(), "UTF8"};
    if (!options.password.isEmpty()) {
        keys.push_back("password");
        values.push_back(password.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    // Connects without blocking, so that the interrupt and the time limit are heard.
    const UntranslatedMessages untranslated;
    m_conn = PQconnectStartParams(keys.data(), values.data(), 1);
    if (!m_conn) throw PgError(PgError::Kind::Unreachable, QStringLiteral("内存不足"));
    const auto deadline = Clock::now() + std::chrono::seconds(options.connectTimeoutSeconds);
    PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
    while (PQstatus(m_conn) != CONNECTION_BAD && polling != PGRES_POLLING_OK &&
           polling != PGRES_POLLING_FAILED) {
        const int ready =
            Wait(PQsocket(m_conn), polling == PGRES_POLLING_READING ? POLLIN : POLLOUT, m_interrupt,
                 deadline);
        if (ready <= 0) {
            PQfinish(m_conn);
            m_conn = nullptr;
            if (ready < 0) throw PgError(PgError::Kind::Cancelled, QStringLiteral("已取消"));
            throw PgError(PgError::Kind::Unreachable, QStringLiteral("服务器没有应答"),
                          QStringLiteral("timeout expired"));
        }
        polling = PQconnectPoll(m_conn);
    }
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const QString text = QString::fromUtf8(PQerrorMessage(m_conn));
        PQfinish(m_conn);
        m_conn = nullptr;
        throw ConnectFailure(text, options.password);
    }
    PQsetnonblocking(m_conn, 1);
    limitSession(options);
}

void PgConnection::limitSession(const Options& options) {
    QByteArray sql;
    const int limit = options.statementTimeoutMs;
    if (limit > 0) {
        sql += "SET statement_timeout = " + QByteArray::number(limit) +
               ";SET lock_timeout = " + QByteArray::number(std::max(1, limit / 2)) +
               ";SET idle_in_transaction_session_timeout = " + QByteArray::number(2 * limit) + ";";
        // The server's side of the socket is probed too: a session whose bench went silent
        // (switched off, unplugged) ends within about a minute instead of the system's hours.
        sql += "SET tcp_keepalives_idle = 30;SET tcp_keepalives_interval = 10;"
               "SET tcp_keepalives_count = 3;";
        // The server looks now and then whether the client is still there while a statement
        // runs, instead of only when it next writes to it.
        if (serverVersion() >= 140000) sql += "SET client_connection_check_interval = 5000;";
    }
    if (options.readOnly) sql += "SET default_transaction_read_only = on;";
    if (sql.isEmpty()) return;
    try {
        execScript(sql.constData());
    } catch (...) {
        if (m_conn) PQfinish(m_conn);
        m_conn = nullptr;
        throw;
    }
}

PgConnection::~PgConnection() {
    if (m_conn) PQfinish(m_conn);
}

bool PgConnection::ok() const { return m_conn && PQstatus(m_conn) == CONNECTION_OK; }
bool PgConnection::idle() const { return ok() && PQtransactionStatus(m_conn) == PQTRANS_IDLE; }
int PgConnection::serverVersion() const { return m_conn ? PQserverVersion(m_conn) : 0; }
bool PgConnection::usesTls() const { return m_conn && PQsslInUse(m_conn) != 0; }

void PgConnection::fail(PGresult* result) const {
    const QByteArray state =
        result ? QByteArray(PQresultErrorField(result, PG_DIAG_SQLSTATE)) : QByteArray();
    const QString primary =
        result && PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY)
            ? QString::fromUtf8(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY))
            : QString::fromUtf8(m_conn ? PQerrorMessage(m_conn) : "");
    if (result) PQclear(result);
    const QString detail = Scrub(primary, m_password);
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK || state.startsWith("08") ||
        state == "57P01" || state == "57P02" || state == "57P03")
        throw PgError(PgError::Kind::Unreachable, QStringLiteral("与服务器的连接中断"), detail,
                      state);
    if (state == "55P03")
        throw PgError(PgError::Kind::Unreachable,
                      QStringLiteral("服务器上的数据正被占用，稍后重试"), detail, state);
    if (state == "57014")
        throw PgError(PgError::Kind::Unreachable, QStringLiteral("服务器处理超时"), detail, state);
    if (state == "42501")
        throw PgError(PgError::Kind::Refused, QStringLiteral("服务器上的账户权限不足"), detail,
                      state);
    if (state.startsWith("28"))
        throw PgError(PgError::Kind::Authentication, QStringLiteral("用户名或密码错误"), detail,
                      state);
    throw PgError(PgError::Kind::Refused, QStringLiteral("服务器拒绝了请求"), detail, state);
}

PGresult* PgConnection::awaitResult() {
    std::optional<Clock::time_point> deadline;
    if (m_statementTimeoutMs > 0)
        deadline = Clock::now() + std::chrono::milliseconds(m_statementTimeoutMs + kClientGraceMs);
    const int socket = PQsocket(m_conn);
    int ready = 1;  // 0: timed out, -1: interrupted
    // Everything sent first (reading meanwhile, so the server is never stuck on us) ...
    while (ready == 1 && PQflush(m_conn) > 0) {
        ready = Wait(socket, POLLIN | POLLOUT, m_interrupt, deadline);
        if (ready == 1 && !PQconsumeInput(m_conn)) return nullptr;
    }
    // ... then the results read as they come; the first failure is the one reported.
    PGresult* last = nullptr;
    while (ready == 1) {
        if (PQisBusy(m_conn)) {
            ready = Wait(socket, POLLIN, m_interrupt, deadline);
            if (ready == 1 && !PQconsumeInput(m_conn)) return last;  // lost: libpq says why
            continue;
        }
        PGresult* next = PQgetResult(m_conn);
        if (!next) return last;
        const bool lastFailed = last && PQresultStatus(last) != PGRES_COMMAND_OK &&
                                PQresultStatus(last) != PGRES_TUPLES_OK;
        if (lastFailed) {
            PQclear(next);
        } else {
            if (last) PQclear(last);
            last = next;
        }
    }
    if (last) PQclear(last);
    // Interrupted or too slow: the server is asked to stop the statement, so that no session
    // of ours goes on waiting there (for a lock, say), and the connection is given up (its
    // state is unknown now): the next use makes a new one. An interrupt waits for nothing;
    // a statement past its time waits a moment for the server to take the request.
    RequestCancel(m_conn, ready < 0 ? 0 : 1000);
    PQfinish(m_conn);
    m_conn = nullptr;
    if (ready < 0) throw PgError(PgError::Kind::Cancelled, QStringLiteral("已取消"));
    throw PgError(PgError::Kind::Unreachable, QStringLiteral("服务器没有应答"),
                  QStringLiteral("statement timeout"));
}

PgResult PgConnection::exec(const char* sql, const PgParams& params) {
    if (!m_conn) throw PgError(PgError::Kind::Unreachable, QStringLiteral("与服务器的连接中断"));
    std::vector<const char*> values;
    values.reserve(params.values().size());
    for (const auto& v : params.values()) values.push_back(v ? v->constData() : nullptr);
    if (!PQsendQueryParams(m_conn, sql, params.size(), nullptr, values.data(), nullptr, nullptr, 0))
        fail(nullptr);
    PGresult* result = awaitResult();
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) fail(result);
    return PgResult(result);
}

void PgConnection::execScript(const char* sql) {
    if (!m_conn) throw PgError(PgError::Kind::Unreachable, QStringLiteral("与服务器的连接中断"));
    if (!PQsendQuery(m_conn, sql)) fail(nullptr);
    PGresult* result = awaitResult();
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) fail(result);
    PQclear(result);
}

PgTransaction::PgTransaction(PgConnection& db) : m_db(db) { m_db.execScript("BEGIN"); }

PgTransaction::~PgTransaction() {
    if (m_done || !m_db.ok()) return;
    try {
        m_db.execScript("ROLLBACK");
    } catch (const PgError&) {
        // The connection is gone or given up: the server rolls back by itself.
    }
}

void PgTransaction::commit() {
    m_db.execScript("COMMIT");
    m_done = true;
}

}  // namespace server
