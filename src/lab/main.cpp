// kivo-lab: the lab's web service. Without options it serves the pages; --setup prepares the
// database once (as its owner), --add-user makes or changes a web account.
#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <memory>
#include <thread>

#include "lab/lab_config.h"
#include "lab/lab_service.h"
#include "lab/live/live_routes.h"
#include "lab/web_setup.h"
#include "lab/web_users.h"
#include "report/report_content.h"
#include "report/report_output.h"

namespace {

constexpr const char* kUsage =
    "用法：kivo-lab [--config 配置文件]                 提供网页服务\n"
    "      kivo-lab [--config 配置文件] --setup 所有者连接  建立只读角色与网页服务数据表\n"
    "      kivo-lab [--config 配置文件] --add-user 用户名   添加网页账户或更改其密码\n"
    "配置文件默认为 /etc/kivo-lab/kivo-lab.ini；所有者连接为 libpq 地址，\n"
    "如 postgresql://kivo_owner@localhost/kivo（密码取自 ~/.pgpass，或在终端上询问）。\n";

void Say(const QString& text) { std::fprintf(stderr, "kivo-lab: %s\n", qPrintable(text)); }

int Setup(const QString& ownerUri) {
    server::PgConnection::Options o;
    o.conninfo = ownerUri;
    o.applicationName = QStringLiteral("kivo-lab --setup");
    o.statementTimeoutMs = 120000;
    try {
        std::unique_ptr<server::PgConnection> db;
        try {
            db = std::make_unique<server::PgConnection>(o);
        } catch (const server::PgError& e) {
            if (e.kind != server::PgError::Kind::Authentication || !isatty(STDIN_FILENO)) throw;
            const std::optional<QString> password =
                lab::ReadSecretLine(stdin, stderr, "数据库所有者的密码：");
            if (!password) throw;
            o.password = *password;
            db = std::make_unique<server::PgConnection>(o);
        }
        std::printf("%s\n", qPrintable(lab::SetUpWebService(*db)));
        return 0;
    } catch (const server::PgError& e) {
        Say(QStringLiteral("设置失败：%1（%2）").arg(e.message, e.detail.trimmed()));
        return 1;
    }
}

int AddUser(const lab::LabConfig& config, const QString& name) {
    if (const QString problem = lab::AccountNameProblem(name); !problem.isEmpty()) {
        Say(problem);
        return 2;
    }
    const std::optional<QString> first = lab::ReadSecretLine(stdin, stderr, "密码：");
    const std::optional<QString> second = lab::ReadSecretLine(stdin, stderr, "再次输入密码：");
    if (!first || !second) {
        Say(QStringLiteral("没有读到密码"));
        return 1;
    }
    if (*first != *second) {
        Say(QStringLiteral("两次输入的密码不一致，账户未保存"));
        return 1;
    }
    if (const QString problem = lab::PasswordProblem(*first); !problem.isEmpty()) {
        Say(problem + QStringLiteral("，账户未保存"));
        return 1;
    }
    const QString hash = lab::HashPassword(*first);
    if (hash.isEmpty()) {
        Say(QStringLiteral("无法计算密码的散列（内存不足），账户未保存"));
        return 1;
    }
    QString error;
    const QString password = lab::ReadPassword(config, &error);
    if (!error.isEmpty()) {
        Say(error);
        return 1;
    }
    server::PgConnection::Options o = lab::DatabaseOptions(config, password);
    o.readOnly = false;
    try {
        server::PgConnection db(o);
        lab::StoreWebUser(db, name, hash);
    } catch (const server::PgError& e) {
        Say(QStringLiteral("账户未保存：%1（%2）").arg(e.message, e.detail.trimmed()));
        return 1;
    }
    std::printf("已保存网页账户 %s\n", qPrintable(name));
    return 0;
}

int Serve(QApplication& app, const lab::LabConfig& config) {
    QString error;
    const QString password = lab::ReadPassword(config, &error);
    if (!error.isEmpty()) {
        Say(error);
        return 1;
    }
    // The report is painted on this (the Qt) thread; a request thread waits for it.
    lab::LabService service(
        config, lab::DatabaseOptions(config, password), [&app](const ReportContent& content) {
            QByteArray pdf;
            QMetaObject::invokeMethod(
                &app, [&] { pdf = TestReportPdf(content); }, Qt::BlockingQueuedConnection);
            return pdf;
        });
    std::unique_ptr<lab::LiveFeed> feed;
    std::unique_ptr<httplib::Server> server;
    if (config.https())
        server = std::make_unique<httplib::SSLServer>(config.tlsCert.toLocal8Bit().constData(),
                                                      config.tlsKey.toLocal8Bit().constData());
    else
        server = std::make_unique<httplib::Server>();
    if (!server->is_valid()) {
        Say(QStringLiteral("无法读取 TLS 证书 %1 或私钥 %2").arg(config.tlsCert, config.tlsKey));
        return 1;
    }
    service.install(*server);

    // The live page (实验台): its feed listens on a connection of its own, with the same
    // account; the service's sessions decide who is signed in. The feed outlives the server's
    // stop below (it is made before the server is destroyed and ends after it).
    QString quoted = password;
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\''), QLatin1String("\\'"));
    feed = std::make_unique<lab::LiveFeed>(
        (lab::ConnInfo(config) +
         QStringLiteral(" connect_timeout=5 application_name=kivo-lab-live") +
         (password.isEmpty() ? QString() : QStringLiteral(" password='%1'").arg(quoted)))
            .toStdString());
    lab::AddLiveRoutes(*server, *feed,
                       [&service](const httplib::Request& r) { return service.signedIn(r); });

    const std::string host = config.listen.toStdString();
    int port = config.listenPort;
    if (port == 0) {
        port = server->bind_to_any_port(host);
        if (port <= 0) port = -1;
    } else if (!server->bind_to_port(host, port)) {
        port = -1;
    }
    if (port < 0) {
        Say(QStringLiteral("无法在 %1:%2 上监听（地址被占用或无权使用）")
                .arg(config.listen)
                .arg(config.listenPort));
        return 1;
    }
    std::printf("kivo-lab: listening on %s://%s:%d\n", config.https() ? "https" : "http",
                host.c_str(), port);
    std::fflush(stdout);

    // SIGTERM and SIGINT stop the server; the pages under way finish first.
    std::thread signalWaiter([&server] {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGINT);
        int signal = 0;
        sigwait(&set, &signal);
        server->stop();
    });
    std::thread http([&server, &app] {
        server->listen_after_bind();
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    server->stop();
    http.join();
    kill(getpid(), SIGTERM);  // ends the signal thread when the server stopped by itself
    signalWaiter.join();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Only the threads made below take SIGTERM and SIGINT, through sigwait.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    QString configPath = QString::fromLatin1(lab::kDefaultConfigPath);
    QString setupUri, newUser;
    bool setup = false, addUser = false;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const bool hasValue = i + 1 < argc;
        if (arg == QStringLiteral("--config") && hasValue) {
            configPath = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == QStringLiteral("--setup") && hasValue) {
            setup = true;
            setupUri = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == QStringLiteral("--add-user") && hasValue) {
            addUser = true;
            newUser = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == QStringLiteral("--version")) {
            std::printf("kivo-lab %s\n", KIVO_VERSION);
            return 0;
        } else {
            std::fputs(kUsage, arg == QStringLiteral("--help") ? stdout : stderr);
            return arg == QStringLiteral("--help") ? 0 : 2;
        }
    }
    if (!lab::InitCrypto()) {
        Say(QStringLiteral("无法初始化加密库"));
        return 1;
    }
    if (setup) return Setup(setupUri);

    QString error;
    const std::optional<lab::LabConfig> config = lab::ReadLabConfig(configPath, &error);
    if (!config) {
        Say(error);
        return 1;
    }
    if (addUser) return AddUser(*config, newUser);
    QApplication app(argc, argv);
    return Serve(app, *config);
}
