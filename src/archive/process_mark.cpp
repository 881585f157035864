#include "archive/process_mark.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QFile>
#include <QStringList>
#include <cerrno>

namespace archive {
namespace {

// The first line of a small file of /proc, trimmed; empty when it cannot be read.
QByteArray ReadProcFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char text[4096];
    ssize_t size = 0;
    do {
        size = ::read(fd, text, sizeof text);
    } while (size < 0 && errno == EINTR);
    ::close(fd);
    if (size <= 0) return {};
    const QByteArray read(text, size);
    const qsizetype end = read.indexOf('\n');
    return (end < 0 ? read : read.left(end)).trimmed();
}

QString HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return QString::fromLocal8Bit(name).replace(QLatin1Char('/'), QLatin1Char('_'));
}

QString BootId() {
    return QString::fromLatin1(ReadProcFile(QStringLiteral("/proc/sys/kernel/random/boot_id")));
}

// Field 22 of /proc/<pid>/stat, counted after the command's closing parenthesis (the command
// may hold spaces and parentheses itself); empty when it cannot be read.
QString StartTime(qint64 pid) {
    const QByteArray stat = ReadProcFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0) return {};
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // After the command come the state (field 3) and the rest: field 22 is index 19.
    if (fields.size() <= 19) return {};
    return QString::fromLatin1(fields[19]);
}

bool ProcessExists(qint64 pid) { return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM); }

}  // namespace

QString OwnProcessMark() {
    const qint64 pid = ::getpid();
    return QStringList{HostName(), BootId(), QString::number(pid), StartTime(pid)}.join(
        QLatin1Char('/'));
}

MarkedProcess CheckProcessMark(const QString& mark, QString* host) {
    if (mark.isEmpty()) return MarkedProcess::None;
    const QStringList parts = mark.split(QLatin1Char('/'));
    if (host) *host = parts.value(0);
    if (parts.value(0) != HostName()) return MarkedProcess::AnotherComputer;
    const QString boot = BootId();
    if (!parts.value(1).isEmpty() && !boot.isEmpty() && parts.value(1) != boot)
        return MarkedProcess::Gone;
    bool ok = false;
    const qint64 pid = parts.value(2).toLongLong(&ok);
    // A mark that names no process is kept to: nothing can tell that its program ended.
    if (!ok || pid <= 0) return MarkedProcess::Alive;
    if (!ProcessExists(pid)) return MarkedProcess::Gone;
    const QString started = parts.value(3);
    const QString now = StartTime(pid);
    if (!started.isEmpty() && !now.isEmpty() && started != now) return MarkedProcess::Gone;
    return MarkedProcess::Alive;
}

}  // namespace archive
