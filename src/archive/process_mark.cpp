#include "archive/process_mark.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <QFile>
#include <QStringList>
#include <cerrno>

namespace archive {
namespace {

constexpr QChar kSeparator = QLatin1Char('/');
constexpr int kMarkParts = 7;
constexpr qsizetype kHostLength = 64;

// The first line of a small file, trimmed; empty when it cannot be read.
QByteArray ReadSmallFile(const QString& path) {
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

// A name from a file or an archive made fit for a mark and for a text: no separator, nothing
// unprintable, and short.
QString Printable(const QString& name) {
    QString clean;
    for (const QChar c : name) {
        if (c == kSeparator || !c.isPrint()) continue;
        clean += c;
        if (clean.size() == kHostLength) break;
    }
    return clean;
}

QString HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return Printable(QString::fromLocal8Bit(name));
}

QString MachineId() {
    const QString id = QString::fromLatin1(ReadSmallFile(QStringLiteral("/etc/machine-id")));
    return Printable(id);
}

QString BootId() {
    return Printable(
        QString::fromLatin1(ReadSmallFile(QStringLiteral("/proc/sys/kernel/random/boot_id"))));
}

// stat needs no file descriptor.
QString PidNamespace() {
    struct stat ns {};
    if (::stat("/proc/self/ns/pid", &ns) != 0) return {};
    return QString::number(qulonglong(ns.st_ino));
}

// sysinfo needs no file descriptor either.
qint64 Uptime() {
    struct sysinfo info {};
    if (::sysinfo(&info) != 0) return -1;
    return qint64(info.uptime);
}

// Field 22 of /proc/<pid>/stat, counted after the command's closing parenthesis (the command
// may hold spaces and parentheses itself); empty when it cannot be read.
QString StartTime(qint64 pid) {
    const QByteArray stat = ReadSmallFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0) return {};
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // After the command come the state (field 3) and the rest: field 22 is index 19.
    if (fields.size() <= 19) return {};
    return QString::fromLatin1(fields[19]);
}

bool ProcessExists(qint64 pid) { return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM); }

bool AllDigits(const QString& text) {
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    return true;
}

}  // namespace

QString ProcessMark::text() const {
    return QStringList{machineId,      bootId,
                       pidNamespace,   QString::number(pid),
                       startTime,      uptime >= 0 ? QString::number(uptime) : QString(),
                       Printable(host)}
        .join(kSeparator);
}

std::optional<ProcessMark> ProcessMark::parse(const QString& text) {
    const QStringList parts = text.split(kSeparator);
    if (parts.size() != kMarkParts) return std::nullopt;
    ProcessMark mark;
    mark.machineId = parts[0];
    mark.bootId = parts[1];
    mark.pidNamespace = parts[2];
    bool ok = false;
    mark.pid = parts[3].toLongLong(&ok);
    if (!ok || mark.pid <= 0 || !AllDigits(parts[3])) return std::nullopt;
    mark.startTime = parts[4];
    if (!AllDigits(mark.startTime) || !AllDigits(parts[5])) return std::nullopt;
    if (!parts[5].isEmpty()) {
        mark.uptime = parts[5].toLongLong(&ok);
        if (!ok) return std::nullopt;
    }
    mark.host = Printable(parts[6]);
    return mark;
}

ProcessMark ReadOwnProcessMark() {
    ProcessMark mark;
    mark.machineId = MachineId();
    mark.bootId = BootId();
    mark.pidNamespace = PidNamespace();
    mark.pid = ::getpid();
    mark.startTime = StartTime(mark.pid);
    mark.uptime = Uptime();
    mark.host = HostName();
    return mark;
}

ThisComputer ThisComputer::now() { return {MachineId(), BootId(), PidNamespace(), Uptime()}; }

MarkedProcess CheckProcessMark(const QString& text, const ThisComputer& here, QString* host) {
    // A mark that is not whole cannot name a process: it holds nothing, so that a damaged or
    // foreign column never keeps a test from everyone for ever.
    const std::optional<ProcessMark> mark = ProcessMark::parse(text);
    if (!mark) return MarkedProcess::None;
    if (host) *host = mark->host;
    // The machine id names the computer. Where either side has none (an unreadable
    // /etc/machine-id), the boot id can still say it is this one: it is drawn at random at each
    // boot, so no two computers share one. Otherwise the computer is not known: another one's.
    const bool sameBoot = !mark->bootId.isEmpty() && mark->bootId == here.bootId;
    if (mark->machineId.isEmpty() || here.machineId.isEmpty()) {
        if (!sameBoot) return MarkedProcess::AnotherComputer;
    } else if (mark->machineId != here.machineId) {
        return MarkedProcess::AnotherComputer;
    }
    if (!mark->bootId.isEmpty() && !here.bootId.isEmpty()) {
        if (mark->bootId != here.bootId) return MarkedProcess::Gone;
    } else if (mark->uptime >= 0 && here.uptime >= 0 && here.uptime < mark->uptime) {
        // The time since the boot only grows within a boot: this one started since.
        return MarkedProcess::Gone;
    }
    if (mark->pidNamespace.isEmpty() || mark->pidNamespace != here.pidNamespace)
        return MarkedProcess::AnotherSandbox;
    if (!ProcessExists(mark->pid)) return MarkedProcess::Gone;
    const QString now = StartTime(mark->pid);
    if (now.isEmpty()) return MarkedProcess::Alive;
    if (!mark->startTime.isEmpty()) {
        return mark->startTime == now ? MarkedProcess::Alive : MarkedProcess::Gone;
    }
    // Without its start time, the mark still tells when its process was running at the
    // latest: a process with its pid that started after that is another one.
    const long ticks = ::sysconf(_SC_CLK_TCK);
    if (mark->uptime >= 0 && ticks > 0 && now.toLongLong() / ticks > mark->uptime + 1)
        return MarkedProcess::Gone;
    return MarkedProcess::Alive;
}

}  // namespace archive
