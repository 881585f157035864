#include "lab/lab_service.h"

#include <QDate>
#include <QUrl>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <semaphore>

#include "export/poll_csv.h"
#include "lab/bounded_task_queue.h"
#include "lab/client_address.h"
#include "lab/embedded_css.h"
#include "lab/html.h"
#include "lab/lab_reads.h"
#include "lab/web_pages.h"
#include "lab/web_users.h"
#include "report/report_output.h"
#include "server/server_reader.h"

namespace lab {
namespace {

constexpr const char* kHtml = "text/html; charset=utf-8";

qint64 NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString Param(const httplib::Request& request, const char* name) {
    return QString::fromStdString(request.get_param_value(name)).left(200);
}

// A test's uid as the benches make them; anything else names no test.
bool PlausibleUid(const std::string& uid) {
    if (uid.empty() || uid.size() > 64) return false;
    for (const char c : uid)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '{' && c != '}' &&
            c != '_')
            return false;
    return true;
}

void SendPage(httplib::Response& response, int status, const std::string& html) {
    response.status = status;
    response.set_content(html, kHtml);
}

void Redirect(httplib::Response& response, const std::string& to) {
    response.status = 303;
    response.set_header("Location", to);
}

// Argon2id takes 64 MiB a check: a few at a time, whatever the number of clients.
std::counting_semaphore<4> g_passwordChecks{4};

}  // namespace

server::PgConnection::Options DatabaseOptions(const LabConfig& config, const QString& password) {
    server::PgConnection::Options o;
    o.conninfo = ConnInfo(config);
    o.password = password;
    o.connectTimeoutSeconds = 5;
    o.applicationName = QStringLiteral("kivo-lab");
    o.statementTimeoutMs = 15000;
    o.readOnly = true;
    return o;
}

LabService::LabService(LabConfig config, server::PgConnection::Options database, PdfPainter pdf)
    : m_config(std::move(config)),
      m_pool(std::move(database), 8),
      m_pdf(std::move(pdf)),
      m_sessions(qint64{m_config.sessionHours} * 3600 * 1000),
      m_verifyLimit(m_config.verifyPerMinute, 60 * 1000),
      m_loginLimit(m_config.failedLoginsPerHour, 3600 * 1000) {}

std::string LabService::clientAddress(const httplib::Request& request) const {
    return ClientAddress(request.remote_addr, request.get_header_value("X-Forwarded-For"),
                         m_config.behindProxy);
}

std::optional<QString> LabService::user(const httplib::Request& request) {
    const std::string id = CookieValue(request.get_header_value("Cookie"), kSessionCookie);
    if (id.empty()) return std::nullopt;
    const std::optional<QString> name = m_sessions.user(id, NowMs());
    if (!name) return std::nullopt;
    // A removed account, or a new password, ends the sessions opened before. When the
    // database cannot say, the session stands: the page's own read reports the database.
    std::optional<QString> current;
    try {
        m_pool.with([&](server::PgConnection& db) { current = WebUserHash(db, *name); });
    } catch (const server::PgError&) {
        return name;
    }
    if (!current || *current != m_sessions.hash(id)) {
        m_sessions.close(id);
        return std::nullopt;
    }
    return name;
}

std::optional<QString> LabService::requireUser(const httplib::Request& request,
                                               httplib::Response& response) {
    std::optional<QString> who = user(request);
    if (!who) {
        const std::string next =
            QUrl::toPercentEncoding(QString::fromStdString(request.path), "/").toStdString();
        Redirect(response, "/login?next=" + next);
    }
    return who;
}

bool LabService::withDatabase(httplib::Response& response,
                              const std::function<void(server::PgConnection&)>& work) {
    try {
        m_pool.with(work);
        return true;
    } catch (const server::PgError& e) {
        std::fprintf(stderr, "kivo-lab: database: %s %s\n", qPrintable(e.message),
                     qPrintable(e.detail));
        SendPage(
            response, 503,
            MessagePage(QStringLiteral("暂时无法读取"),
                        QStringLiteral("无法读取实验室数据库（%1），请稍后再试。").arg(e.message)));
        return false;
    }
}

void LabService::install(httplib::Server& server) {
    server.new_task_queue = [] {
        return new BoundedTaskQueue(kServerThreads, kWaitingConnections);
    };
    server.set_payload_max_length(kMaxBodyBytes);
    server.set_read_timeout(kIoTimeoutSeconds, 0);
    server.set_write_timeout(kIoTimeoutSeconds, 0);
    server.set_keep_alive_max_count(kKeepAliveRequests);
    server.set_keep_alive_timeout(kIoTimeoutSeconds);
    server.set_default_headers(
        {{"X-Content-Type-Options", "nosniff"},
         {"X-Frame-Options", "DENY"},
         {"Referrer-Policy", "same-origin"},
         {"Cache-Control", "no-store"},
         {"Content-Security-Policy",
          "default-src 'self'; img-src 'self' data:; style-src 'self'; script-src 'self'; "
          "frame-ancestors 'none'; form-action 'self'"}});

    server.set_pre_routing_handler(
        [](const httplib::Request& request, httplib::Response& response) {
            size_t bytes = request.method.size() + request.target.size();
            for (const auto& [name, value] : request.headers)
                bytes += name.size() + value.size() + 4;
            if (bytes > kMaxHeaderBytes) {
                SendPage(response, 431,
                         MessagePage(QStringLiteral("请求头过大"),
                                     QStringLiteral("请求头超过 8 KB，已拒绝。")));
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty()) return;
        QString title = QStringLiteral("请求无法处理");
        QString text = QStringLiteral("请求无法处理（%1）。").arg(response.status);
        if (response.status == 404) {
            title = QStringLiteral("页面不存在");
            text = QStringLiteral("没有这个页面。");
        } else if (response.status == 413) {
            title = QStringLiteral("请求过大");
            text = QStringLiteral("请求内容超过 64 KB，已拒绝。");
        } else if (response.status == 414) {
            title = QStringLiteral("地址过长");
            text = QStringLiteral("请求的地址超过 8 KB，已拒绝。");
        }
        response.set_content(MessagePage(title, text), kHtml);
    });
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "kivo-lab: %s\n", e.what());
            } catch (...) {
            }
            SendPage(response, 500,
                     MessagePage(QStringLiteral("内部错误"),
                                 QStringLiteral("处理请求时出错，请稍后再试。")));
        });

    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        Redirect(response, "/tests");
    });
    server.Get("/assets/kivo.css", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Cache-Control", "max-age=3600");
        response.set_content(kKivoLabCss, "text/css; charset=utf-8");
    });
    server.Get("/login", [this](const httplib::Request& request, httplib::Response& response) {
        if (user(request)) return Redirect(response, "/tests");
        SendPage(response, 200, LoginPage({}, Param(request, "next")));
    });
    server.Post("/login", [this](const httplib::Request& request, httplib::Response& response) {
        login(request, response);
    });
    server.Post("/logout", [this](const httplib::Request& request, httplib::Response& response) {
        logout(request, response);
    });
    server.Get("/verify", [this](const httplib::Request& request, httplib::Response& response) {
        verify(request, response);
    });
    server.Get("/tests", [this](const httplib::Request& request, httplib::Response& response) {
        testList(request, response);
    });
    server.Get(R"(/tests/([^/]+))",
               [this](const httplib::Request& request, httplib::Response& response) {
                   testPage(request, response);
               });
    server.Get(R"(/tests/([^/]+)/report\.pdf)",
               [this](const httplib::Request& request, httplib::Response& response) {
                   testReport(request, response);
               });
    server.Get(R"(/tests/([^/]+)/polls\.csv)",
               [this](const httplib::Request& request, httplib::Response& response) {
                   testCsv(request, response);
               });
}

void LabService::login(const httplib::Request& request, httplib::Response& response) {
    const std::string address = clientAddress(request);
    QString next = Param(request, "next");
    // Only a page of this service: "/tests", never "//elsewhere" nor "https://…".
    const bool control = std::any_of(next.begin(), next.end(),
                                     [](QChar c) { return c.unicode() < 0x20 || c == u'\x7f'; });
    if (!next.startsWith(u'/') || next.startsWith(QStringLiteral("//")) || next.contains(u'\\') ||
        control)
        next = QStringLiteral("/tests");
    // The attempt counts before the password is checked, so that logins sent at once cannot
    // all pass the limit; one that succeeds, or is never checked, is taken back.
    if (!m_loginLimit.take(address, NowMs())) {
        response.set_header("Retry-After", "3600");
        SendPage(response, 429,
                 MessagePage(QStringLiteral("登录失败次数过多"),
                             QStringLiteral("登录失败次数过多，请一小时后再试。")));
        return;
    }
    const QString name = Param(request, "name").trimmed();
    const QString password = QString::fromStdString(request.get_param_value("password"));
    std::optional<QString> hash;
    if (!withDatabase(response, [&](server::PgConnection& db) { hash = WebUserHash(db, name); })) {
        m_loginLimit.refund(address);
        return;
    }
    // A flood of logins waits a little for a check, then is told to come back: the threads
    // stay free for the other pages.
    if (!g_passwordChecks.try_acquire_for(std::chrono::seconds(2))) {
        m_loginLimit.refund(address);
        response.set_header("Retry-After", "5");
        SendPage(response, 503,
                 MessagePage(QStringLiteral("登录繁忙"),
                             QStringLiteral("同时登录的人过多，请稍后再试。")));
        return;
    }
    const bool matches = PasswordMatches(hash.value_or(QString()), password);
    g_passwordChecks.release();
    if (!matches) {
        SendPage(response, 200, LoginPage(QStringLiteral("用户名或密码错误"), next));
        return;
    }
    m_loginLimit.refund(address);
    const std::string id = m_sessions.open(name, NowMs(), hash.value_or(QString()));
    std::string cookie = std::string(kSessionCookie) + '=' + id +
                         "; HttpOnly; SameSite=Strict; Path=/; Max-Age=" +
                         std::to_string(qint64{m_config.sessionHours} * 3600);
    if (m_config.secureCookie()) cookie += "; Secure";
    response.set_header("Set-Cookie", cookie);
    Redirect(response, next.toStdString());
}

void LabService::logout(const httplib::Request& request, httplib::Response& response) {
    const std::string id = CookieValue(request.get_header_value("Cookie"), kSessionCookie);
    if (!id.empty()) m_sessions.close(id);
    std::string cookie =
        std::string(kSessionCookie) + "=; HttpOnly; SameSite=Strict; Path=/; Max-Age=0";
    if (m_config.secureCookie()) cookie += "; Secure";
    response.set_header("Set-Cookie", cookie);
    Redirect(response, "/login");
}

void LabService::verify(const httplib::Request& request, httplib::Response& response) {
    const QString number = Param(request, "n");
    const QString code = Param(request, "c");
    const QString who = user(request).value_or(QString());
    if (number.trimmed().isEmpty() && code.trimmed().isEmpty())
        return SendPage(response, 200, VerifyPage({}, {}, nullptr, who));
    if (!m_verifyLimit.take(clientAddress(request), NowMs())) {
        response.set_header("Retry-After", "60");
        SendPage(response, 429,
                 MessagePage(QStringLiteral("查询过于频繁"),
                             QStringLiteral("核验查询过于频繁，请一分钟后再试。")));
        return;
    }
    ReportCheck check;
    if (!withDatabase(response, [&](server::PgConnection& db) {
            check = CheckReport(db, number, code, m_config.grading);
        }))
        return;
    SendPage(response, 200, VerifyPage(number, code, &check, who));
}

void LabService::testList(const httplib::Request& request, httplib::Response& response) {
    const std::optional<QString> who = requireUser(request, response);
    if (!who) return;
    LabListQuery query;
    query.from = QDate::fromString(Param(request, "from"), Qt::ISODate);
    query.to = QDate::fromString(Param(request, "to"), Qt::ISODate);
    query.bench = Param(request, "bench");
    query.tester = Param(request, "tester");
    query.organisation = Param(request, "org");
    query.specimen = Param(request, "specimen");
    const QString after = Param(request, "after");
    const qsizetype dot = after.indexOf(u'.');
    bool ok = false;
    const qint64 afterMs = after.left(dot).toLongLong(&ok);
    if (dot > 0 && ok) query.after = std::pair{afterMs, after.mid(dot + 1)};
    LabTestList list;
    std::vector<QString> benches;
    if (!withDatabase(response, [&](server::PgConnection& db) {
            list = ListLabTests(db, query);
            benches = LabBenches(db);
        }))
        return;
    SendPage(response, 200, TestListPage(query, list, benches, *who));
}

std::optional<LabTest> LabService::loadTest(const httplib::Request& request,
                                            httplib::Response& response) {
    const std::string uid = request.matches[1];
    std::optional<LabTest> test;
    if (PlausibleUid(uid) && !withDatabase(response, [&](server::PgConnection& db) {
            test =
                LoadLabTest(db, QString::fromStdString(uid), m_config.grading, m_config.verifyBase);
        }))
        return std::nullopt;  // the database's fault is answered already
    if (!test)
        SendPage(response, 404,
                 MessagePage(QStringLiteral("实验不存在"),
                             QStringLiteral("实验室数据库中没有这项实验。")));
    return test;
}

void LabService::testPage(const httplib::Request& request, httplib::Response& response) {
    const std::optional<QString> who = requireUser(request, response);
    if (!who) return;
    const std::optional<LabTest> test = loadTest(request, response);
    if (test) SendPage(response, 200, TestPage(*test, *who));
}

void LabService::testReport(const httplib::Request& request, httplib::Response& response) {
    if (!requireUser(request, response)) return;
    const std::optional<LabTest> test = loadTest(request, response);
    if (!test) return;
    const QByteArray pdf = m_pdf(test->content);
    if (pdf.isEmpty())
        return SendPage(response, 500,
                        MessagePage(QStringLiteral("无法生成报告"),
                                    QStringLiteral("无法生成这项实验的试验报告。")));
    response.set_header(
        "Content-Disposition",
        "attachment; filename=\"" + test->content.reportNumber.toStdString() + ".pdf\"");
    response.set_content(pdf.toStdString(), "application/pdf");
}

void LabService::testCsv(const httplib::Request& request, httplib::Response& response) {
    if (!requireUser(request, response)) return;
    const std::string uid = request.matches[1];
    std::optional<server::ServerTest> test;
    if (PlausibleUid(uid) && !withDatabase(response, [&](server::PgConnection& db) {
            test = server::LoadServerTest(db, QString::fromStdString(uid));
        }))
        return;
    if (!test)
        return SendPage(response, 404,
                        MessagePage(QStringLiteral("实验不存在"),
                                    QStringLiteral("实验室数据库中没有这项实验。")));
    const QByteArray csv = BuildPollCsv(test->polls, test->test.records);
    response.set_header(
        "Content-Disposition",
        "attachment; filename=\"" + ReportNumber(test->test).toStdString() + ".csv\"");
    response.set_content(csv.toStdString(), "text/csv; charset=utf-8");
}

}  // namespace lab
