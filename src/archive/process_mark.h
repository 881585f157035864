#pragma once

#include <QString>
#include <optional>

// A process as it names itself in the archive, for a test whose program could not make the
// test's lock file. While that process lives, no other program takes the test for a crashed
// one. The computer is known by its machine id (/etc/machine-id), which a rename leaves alone;
// its host name is kept for texts only. The boot, the pid namespace and the process's start
// time (clock ticks since the boot) tell its pid apart from a later process with the same pid.
// The program reads its mark once, as it starts, so a test started when no file descriptor is
// left still carries it in full.
namespace archive {

struct ProcessMark {
    QString machineId;     // /etc/machine-id; empty when unreadable
    QString bootId;        // the kernel's boot id; empty when unreadable
    QString pidNamespace;  // inode of the pid namespace; empty when unreadable
    qint64 pid = 0;
    QString startTime;   // clock ticks since the boot; empty when unreadable
    qint64 uptime = -1;  // seconds since the boot when the mark was read; -1 when unknown
    QString host;        // the computer's name, for texts

    // "<machine id>/<boot id>/<pid namespace>/<pid>/<start>/<uptime>/<host>".
    QString text() const;
    // The mark `text` holds; none when it is not a whole mark (a pid that is no number, say).
    static std::optional<ProcessMark> parse(const QString& text);
};

// This process's mark, read now: the program reads it once, at start-up.
ProcessMark ReadOwnProcessMark();

// This computer as marks are checked against it, read at the check.
struct ThisComputer {
    QString machineId;
    QString bootId;
    QString pidNamespace;
    qint64 uptime = -1;

    static ThisComputer now();
};

enum class MarkedProcess {
    None,             // no mark, or none that can be read: the locks alone tell
    Alive,            // the process runs on this computer
    Gone,             // it ended (or its computer has started again since)
    AnotherComputer,  // it ran on another computer, or one not known, where alone it is checked
    AnotherSandbox,   // it ran here in another pid namespace, which cannot be looked into
};

// What `mark` says now on `here`; `host` is set to the computer it names (plain text, short).
MarkedProcess CheckProcessMark(const QString& mark, const ThisComputer& here,
                               QString* host = nullptr);
// Reads this computer only when there is a mark to check: most tests have none.
inline MarkedProcess CheckProcessMark(const QString& mark, QString* host = nullptr) {
    if (mark.isEmpty()) return MarkedProcess::None;
    return CheckProcessMark(mark, ThisComputer::now(), host);
}

}  // namespace archive
