#include "server/pg_connection.h"

#include <cstdlib>

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
bool PgResult::isNull(int row, int column) const {
    return PQgetisnull(m_result, row, column) != 0;
}

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

int PgResult::affected() const {
    return m_result ? std::atoi(PQcmdTuples(m_result)) : 0;
}

PgConnection::PgConnection(const Options& options) : m_password(options.password) {
    const QByteArray conninfo = options.conninfo.toUtf8();
    const QByteArray password = options.password.toUtf8();
    const QByteArray timeout = QByteArray::number(options.connectTimeoutSeconds);
    const QByteArray application = options.applicationName.toUtf8();
    // The conninfo comes first and is expanded; what follows overrides it.
    std::vector<const char*> keys{"dbname", "connect_timeout", "application_name",
                                  "client_encoding"};
    std::vector<const char*> values{conninfo.constData(), timeout.constData(),
                                    application.constData(), "UTF8"};
    if (!options.password.isEmpty()) {
        keys.push_back("password");
        values.push_back(password.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    m_conn = PQconnectdbParams(keys.data(), values.data(), 1);
    if (!m_conn) throw PgError(PgError::Kind::Unreachable, QStringLiteral("内存不足"));
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const QString text = QString::fromUtf8(PQerrorMessage(m_conn));
        PQfinish(m_conn);
        m_conn = nullptr;
        throw ConnectFailure(text, options.password);
    }
}

PgConnection::~PgConnection() {
    if (m_conn) PQfinish(m_conn);
}

bool PgConnection::ok() const { return m_conn && PQstatus(m_conn) == CONNECTION_OK; }
int PgConnection::serverVersion() const { return PQserverVersion(m_conn); }
bool PgConnection::usesTls() const { return PQsslInUse(m_conn) != 0; }

void PgConnection::fail(PGresult* result) const {
    const QByteArray state = result ? QByteArray(PQresultErrorField(result, PG_DIAG_SQLSTATE))
                                    : QByteArray();
    const QString primary =
        result && PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY)
            ? QString::fromUtf8(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY))
            : QString::fromUtf8(PQerrorMessage(m_conn));
    if (result) PQclear(result);
    const QString detail = Scrub(primary, m_password);
    if (PQstatus(m_conn) != CONNECTION_OK || state.startsWith("08") || state == "57P01" ||
        state == "57P02" || state == "57P03")
        throw PgError(PgError::Kind::Unreachable, QStringLiteral("与服务器的连接中断"), detail,
                      state);
    if (state == "42501")
        throw PgError(PgError::Kind::Refused, QStringLiteral("服务器上的账户权限不足"), detail,
                      state);
    if (state.startsWith("28"))
        throw PgError(PgError::Kind::Authentication, QStringLiteral("用户名或密码错误"), detail,
                      state);
    throw PgError(PgError::Kind::Refused, QStringLiteral("服务器拒绝了请求"), detail, state);
}

PgResult PgConnection::exec(const char* sql, const PgParams& params) {
    std::vector<const char*> values;
    values.reserve(params.values().size());
    for (const auto& v : params.values()) values.push_back(v ? v->constData() : nullptr);
    PGresult* result = PQexecParams(m_conn, sql, params.size(), nullptr, values.data(), nullptr,
                                    nullptr, 0);
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) fail(result);
    return PgResult(result);
}

void PgConnection::execScript(const char* sql) {
    PGresult* result = PQexec(m_conn, sql);
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) fail(result);
    PQclear(result);
}

PgTransaction::PgTransaction(PgConnection& db) : m_db(db) { m_db.execScript("BEGIN"); }

PgTransaction::~PgTransaction() {
    if (m_done || !m_db.ok()) return;
    PGresult* result = PQexec(m_db.get(), "ROLLBACK");
    if (result) PQclear(result);
}

void PgTransaction::commit() {
    m_db.execScript("COMMIT");
    m_done = true;
}

}  // namespace server
