#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcessEnvironment>
#include <chrono>
#include <vector>

namespace ArchiveTesting {
namespace {

// Everything exec needs, made before fork: the child only rewires its pipes and execs.
struct ExecPlan {
    QByteArray program;
    std::vector<QByteArray> args, env;
    std::vector<char*> argv, envp;

    ExecPlan(const QString& path, const QStringList& arguments, const QStringList& environment) {
        program = QFile::encodeName(path);
        args.push_back(program);
        for (const QString& a : arguments) args.push_back(a.toLocal8Bit());
        for (const QString& e : environment) env.push_back(e.toLocal8Bit());
        for (QByteArray& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (QByteArray& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
    }
};

pid_t Spawn(ExecPlan& plan, int stdinFd, int stdoutFd) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (stdinFd >= 0) ::dup2(stdinFd, 0);
        if (stdoutFd >= 0) ::dup2(stdoutFd, 1);
        ::execve(plan.program.constData(), plan.argv.data(), plan.envp.data());
        ::_exit(127);
    }
    return pid;
}

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

int RunProgram(const QString& program, const QStringList& args) {
    QString path = program;
    for (const char* folder : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"})
        if (QFile::exists(folder + program)) path = folder + program;
    ExecPlan plan(path, args, QProcessEnvironment::systemEnvironment().toStringList());
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = Spawn(plan, -1, devNull);
    ::close(devNull);
    if (pid < 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return ExitCode(status);
}

ChildProcess::ChildProcess(const QString& test, const QString& role,
                           const QList<std::pair<QString, QString>>& params) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KIVO_ARCHIVE_CHILD"), role);
    for (const auto& [name, value] : params)
        env.insert(QStringLiteral("KIVO_ARCHIVE_") + name, value);
    ::signal(SIGPIPE, SIG_IGN);  // a child that died must not take the test with it
    ExecPlan plan(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--gtest_filter=") + test, QStringLiteral("--gtest_brief=1")},
                  env.toStringList());
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return;
    }
    m_pid = Spawn(plan, in[0], out[1]);
    ::close(in[0]);
    ::close(out[1]);
    m_in = in[1];
    m_out = out[0];
}

ChildProcess::~ChildProcess() {
    kill();
    wait();
    if (m_in >= 0) ::close(m_in);
    if (m_out >= 0) ::close(m_out);
}

QList<QByteArray> ChildProcess::readLines(int ms) {
    QList<QByteArray> lines;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (m_out >= 0) {
        const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 end - std::chrono::steady_clock::now())
                                 .count());
        pollfd p{m_out, POLLIN, 0};
        if (::poll(&p, 1, lines.isEmpty() ? std::max(left, 0) : 0) <= 0) break;
        char chunk[4096];
        const ssize_t n = ::read(m_out, chunk, sizeof chunk);
        if (n <= 0) {
            m_ended = true;
            break;
        }
        m_buffer.append(chunk, n);
        for (qsizetype end = m_buffer.indexOf('\n'); end >= 0; end = m_buffer.indexOf('\n')) {
            lines << m_buffer.left(end).trimmed();
            m_buffer.remove(0, end + 1);
        }
    }
    return lines;
}

bool ChildProcess::waitForLine(const QByteArray& line, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end && !m_ended)
        if (readLines(100).contains(line)) return true;
    return false;
}

void ChildProcess::write(const QByteArray& data) {
    if (m_in >= 0 && ::write(m_in, data.constData(), size_t(data.size())) < 0) {
        ::close(m_in);
        m_in = -1;
    }
}

void ChildProcess::kill() {
    if (m_pid > 0) ::kill(m_pid, SIGKILL);
}

int ChildProcess::wait() {
    if (m_pid <= 0) return -1;
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    m_signalled = WIFSIGNALED(status);
    return ExitCode(status);
}

}  // namespace ArchiveTesting
