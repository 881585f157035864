#include "lab_live/headless_chromium.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <vector>

extern char** environ;

HeadlessChromium::HeadlessChromium() {
    int commands[2];
    int answers[2];
    if (::pipe2(commands, O_CLOEXEC) != 0 || ::pipe2(answers, O_CLOEXEC) != 0) {
        m_error = QStringLiteral("pipe failed");
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, commands[0], 3);
    posix_spawn_file_actions_adddup2(&actions, answers[1], 4);
    // The browser's complaints about a machine without a desktop bus are no test's business.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const QByteArray profile = "--user-data-dir=" + m_profile.path().toUtf8();
    std::vector<QByteArray> args = {"chromium",
                                    "--headless",
                                    "--no-sandbox",
                                    "--disable-gpu",
                                    "--no-first-run",
                                    "--no-default-browser-check",
                                    "--disable-extensions",
                                    "--disable-background-networking",
                                    "--disable-dev-shm-usage",
                                    "--hide-scrollbars",
                                    "--remote-debugging-pipe",
                                    profile,
                                    "about:blank"};
    std::vector<char*> argv;
    for (QByteArray& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // A group of its own, so that its helpers end with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const int spawned =
        posix_spawnp(&m_pid, "chromium", &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(commands[0]);
    ::close(answers[1]);
    m_in = commands[1];
    m_out = answers[0];
    if (spawned != 0) {
        m_pid = -1;
        m_error = QStringLiteral("chromium could not be started");
    }
}

HeadlessChromium::~HeadlessChromium() {
    if (m_in >= 0) ::close(m_in);
    if (m_out >= 0) ::close(m_out);
    if (m_pid > 0) {
        ::kill(-m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        // Its helpers too, before its profile folder goes.
        for (int i = 0; i < 300 && ::kill(-m_pid, 0) == 0; ++i) ::usleep(20000);
    }
}

QJsonObject HeadlessChromium::call(const QString& method, const QJsonObject& params, bool page,
                                   int limitMs) {
    if (!valid()) return {};
    const int id = m_nextId++;
    QJsonObject message{{QStringLiteral("id"), id},
                        {QStringLiteral("method"), method},
                        {QStringLiteral("params"), params}};
    if (page) message[QStringLiteral("sessionId")] = m_session;
    QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact);
    bytes.append('\0');
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t n = ::write(m_in, bytes.constData() + sent, size_t(bytes.size() - sent));
        if (n <= 0) {
            m_error = QStringLiteral("chromium's pipe closed");
            return {};
        }
        sent += n;
    }
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        qsizetype end;
        while ((end = m_buffer.indexOf('\0')) >= 0) {
            const QJsonObject answer = QJsonDocument::fromJson(m_buffer.left(end)).object();
            m_buffer.remove(0, end + 1);
            if (answer.value(QStringLiteral("id")).toInt() != id) continue;  // an event
            if (answer.contains(QStringLiteral("error"))) {
                m_error = method + QStringLiteral(": ") +
                          QString::fromUtf8(
                              QJsonDocument(answer.value(QStringLiteral("error")).toObject())
                                  .toJson(QJsonDocument::Compact));
                return {};
            }
            return answer.value(QStringLiteral("result")).toObject();
        }
        const qint64 left = limitMs - timer.elapsed();
        pollfd fd{m_out, POLLIN, 0};
        if (left <= 0 || ::poll(&fd, 1, int(left)) <= 0) {
            m_error = method + QStringLiteral(": no answer from chromium");
            return {};
        }
        char chunk[65536];
        const ssize_t n = ::read(m_out, chunk, sizeof chunk);
        if (n <= 0) {
            m_error = QStringLiteral("chromium ended");
            return {};
        }
        m_buffer.append(chunk, n);
    }
}

bool HeadlessChromium::open(const QString& url, int width, int height, const QString& beforeLoad) {
    // The page the browser opened at its start.
    QString targetId;
    for (int attempt = 0; attempt < 300 && targetId.isEmpty() && valid(); ++attempt) {
        const QJsonObject targets = call(QStringLiteral("Target.getTargets"), {}, false);
        for (const QJsonValue& t : targets.value(QStringLiteral("targetInfos")).toArray())
            if (t.toObject().value(QStringLiteral("type")).toString() == QLatin1String("page"))
                targetId = t.toObject().value(QStringLiteral("targetId")).toString();
        if (targetId.isEmpty()) ::usleep(100000);
    }
    if (targetId.isEmpty()) return false;
    const QJsonObject attached =
        call(QStringLiteral("Target.attachToTarget"),
             {{QStringLiteral("targetId"), targetId}, {QStringLiteral("flatten"), true}}, false);
    m_session = attached.value(QStringLiteral("sessionId")).toString();
    if (m_session.isEmpty()) return false;
    call(QStringLiteral("Emulation.setDeviceMetricsOverride"),
         {{QStringLiteral("width"), width},
          {QStringLiteral("height"), height},
          {QStringLiteral("deviceScaleFactor"), 1},
          {QStringLiteral("mobile"), false}});
    call(QStringLiteral("Page.enable"));
    if (!beforeLoad.isEmpty())
        call(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"),
             {{QStringLiteral("source"), beforeLoad}});
    call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url}});
    return valid() && waitFor(QStringLiteral("document.readyState === 'complete'"));
}

QJsonValue HeadlessChromium::evaluate(const QString& expression) {
    const QJsonObject result =
        call(QStringLiteral("Runtime.evaluate"), {{QStringLiteral("expression"), expression},
                                                  {QStringLiteral("awaitPromise"), true},
                                                  {QStringLiteral("returnByValue"), true}});
    if (result.contains(QStringLiteral("exceptionDetails"))) {
        m_error = QString::fromUtf8(
            QJsonDocument(result.value(QStringLiteral("exceptionDetails")).toObject())
                .toJson(QJsonDocument::Compact));
        return QJsonValue(QJsonValue::Undefined);
    }
    return result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value"));
}

bool HeadlessChromium::waitFor(const QString& condition, int limitMs) {
    const QString script =
        QStringLiteral(
            "new Promise(function (done) {"
            "  var until = Date.now() + %1;"
            "  (function look() {"
            "    var ok = false; try { ok = !!(%2); } catch (e) {}"
            "    if (ok || Date.now() > until) done(ok); else setTimeout(look, 100);"
            "  })();"
            "})")
            .arg(limitMs)
            .arg(condition);
    return evaluate(script).toBool();
}

QByteArray HeadlessChromium::screenshot() {
    const QJsonObject shot =
        call(QStringLiteral("Page.captureScreenshot"), {{QStringLiteral("format"), "png"}});
    return QByteArray::fromBase64(shot.value(QStringLiteral("data")).toString().toLatin1());
}
