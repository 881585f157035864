#include "export/office/office_session.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <uno/environment.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QUrl>
#include <chrono>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

using namespace com::sun::star;

namespace {

using Clock = std::chrono::steady_clock;

// The folder of the office runtime this program is linked with: the office's own program
// folder, where its start program and its fundamental settings are.
QString OfficeProgramFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&uno_getEnvironment), &info) == 0 || !info.dli_fname) {
        return {};
    }
    return QFileInfo(QFile::decodeName(info.dli_fname)).canonicalPath();
}

// The local UNO runtime needs to know where its settings are before its first context.
void PointRuntimeAtOffice(const QString& folder) {
    rtl::OUString existing;
    if (rtl::Bootstrap::get("URE_BOOTSTRAP", existing)) return;
    const QString url = QUrl::fromLocalFile(folder + "/fundamentalrc").toString(QUrl::FullyEncoded);
    rtl::Bootstrap::set("URE_BOOTSTRAP", rtl::Bootstrap::encode(ToOUString(url)));
}

// A write to the office's pipe after the office died must fail, not end this program.
void IgnoreBrokenPipes() {
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        signal(SIGPIPE, SIG_IGN);
    }
}

QString ProfileUrl(const QString& folder) {
    return QUrl::fromLocalFile(folder).toString(QUrl::FullyEncoded);
}

// An office that was killed leaves the sockets of its two pipes in /tmp: the one we named,
// and the one its instances of a profile meet at, named after the MD5 of the profile's URL
// in UTF-16 with each byte in hex without padding.
void RemoveLeftSockets(const QString& pipeName, const QString& profileUrl) {
    QByteArray utf16;
    for (QChar c : profileUrl) {
        utf16.append(static_cast<char>(c.unicode() & 0xFF));
        utf16.append(static_cast<char>(c.unicode() >> 8));
    }
    QString digest;
    for (unsigned char byte : QCryptographicHash::hash(utf16, QCryptographicHash::Md5)) {
        digest += QString::number(byte, 16);
    }
    for (const QString& name : {pipeName, "SingleOfficeIPC_" + digest}) {
        const QString socket = QStringLiteral("/tmp/OSL_PIPE_%1_%2").arg(getuid()).arg(name);
        unlink(QFile::encodeName(socket).constData());
    }
}

QString NewPipeName() {
    return QStringLiteral("kivo%1x%2").arg(getpid()).arg(QRandomGenerator::global()->generate());
}

}  // namespace

QString UnoMessage(const rtl::OUString& message) {
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(message.getStr()),
                              message.getLength());
}

rtl::OUString ToOUString(const QString& text) {
    return rtl::OUString(reinterpret_cast<const sal_Unicode*>(text.utf16()),
                         static_cast<sal_Int32>(text.size()));
}

OfficeSession::OfficeSession(OfficeLaunchOptions options) : m_options(std::move(options)) {}

OfficeSession::~OfficeSession() { stop(); }

bool OfficeSession::start(QString* error) {
    stop();
    IgnoreBrokenPipes();
    m_profile = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/kivo-office-XXXXXX");
    if (!m_profile->isValid()) {
        *error = QStringLiteral("无法在临时文件夹“%1”中建立办公软件的配置文件夹。")
                     .arg(QDir::tempPath());
        m_profile.reset();
        return false;
    }
    m_pipeName = NewPipeName();
    if (!launch(m_pipeName, error) || !connect(m_pipeName, error)) {
        stop();
        return false;
    }
    return true;
}

bool OfficeSession::launch(const QString& pipeName, QString* error) {
    const QString folder = OfficeProgramFolder();
    QString program = m_options.program;
    if (program.isEmpty()) program = folder + "/soffice";
    const QFileInfo programInfo(program);
    if (!programInfo.isFile() || !programInfo.isExecutable()) {
        *error = QStringLiteral("没有找到办公软件（%1）。").arg(program);
        return false;
    }
    PointRuntimeAtOffice(folder);

    const QString profileUrl = ProfileUrl(m_profile->path());
    const QStringList arguments = {
        program,
        "--headless",
        "--invisible",
        "--nologo",
        "--nodefault",
        "--norestore",
        "--nocrashreport",
        "--nolockcheck",
        "-env:UserInstallation=" + profileUrl,
        "--accept=pipe,name=" + pipeName + ";urp;",
    };
    std::vector<std::string> storage;
    for (const QString& a : arguments) storage.push_back(QFile::encodeName(a).toStdString());
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);

    // The office talks only over its pipe; its console chatter is dropped. It gets a session
    // (and process group) of its own and the default signal handling.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        *error = QStringLiteral("无法启动办公软件（%1）：%2。")
                     .arg(program, QString::fromLocal8Bit(strerror(rc)));
        return false;
    }
    m_pid = pid;
    return true;
}

bool OfficeSession::connect(const QString& pipeName, QString* error) {
    try {
        m_localContext = cppu::defaultBootstrap_InitialComponentContext();
        uno::Reference<bridge::XUnoUrlResolver> resolver =
            bridge::UnoUrlResolver::create(m_localContext);
        const rtl::OUString url =
            ToOUString("uno:pipe,name=" + pipeName + ";urp;StarOffice.ComponentContext");
        const auto deadline = Clock::now() + std::chrono::milliseconds(m_options.startTimeoutMs);
        for (;;) {
            try {
                m_remoteContext.set(resolver->resolve(url), uno::UNO_QUERY_THROW);
                break;
            } catch (const connection::NoConnectException&) {
                // Not listening yet.
            }
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                *error = QStringLiteral("办公软件启动后随即退出（退出状态 %1）。")
                             .arg(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
                return false;
            }
            if (Clock::now() >= deadline) {
                *error = QStringLiteral("办公软件在 %1 秒内没有响应。")
                             .arg(m_options.startTimeoutMs / 1000.0);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        m_desktop = frame::Desktop::create(m_remoteContext);
        return true;
    } catch (const uno::Exception& e) {
        *error = QStringLiteral("无法连接办公软件：%1").arg(UnoMessage(e.Message));
    } catch (const std::exception& e) {
        *error = QStringLiteral("无法连接办公软件：%1").arg(QString::fromLocal8Bit(e.what()));
    }
    return false;
}

void OfficeSession::stop() {
    bool terminating = false;
    if (m_desktop.is()) {
        try {
            terminating = m_desktop->terminate();
        } catch (const lang::DisposedException&) {
            terminating = true;  // the office went away before its answer came back
        } catch (const uno::Exception&) {
        } catch (const std::exception&) {
        }
    }
    releaseConnection();
    if (m_pid > 0) {
        if (!terminating || !waitForExit(m_options.stopTimeoutMs)) killProcess();
    }
    if (!m_pipeName.isEmpty()) {
        RemoveLeftSockets(m_pipeName, ProfileUrl(m_profile->path()));
        m_pipeName.clear();
    }
    m_profile.reset();
}

void OfficeSession::releaseConnection() {
    m_desktop.clear();
    m_remoteContext.clear();
    if (m_localContext.is()) {
        try {
            uno::Reference<lang::XComponent>(m_localContext, uno::UNO_QUERY_THROW)->dispose();
        } catch (const uno::Exception&) {
        } catch (const std::exception&) {
        }
        m_localContext.clear();
    }
}

bool OfficeSession::waitForExit(int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int status = 0;
        const pid_t rc = waitpid(m_pid, &status, WNOHANG);
        if (rc == m_pid || (rc < 0 && errno == ECHILD)) {
            m_pid = -1;
            return true;
        }
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void OfficeSession::killProcess() {
    if (m_pid <= 0) return;
    killpg(m_pid, SIGKILL);
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
}
