#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

// Another process for a test, started with fork and exec and talked to over pipes. (QProcess
// starts its children in a way ThreadSanitizer cannot follow, which then loses track of the
// parent's locks.)
namespace ArchiveTesting {

// Runs a program to its end; its exit code, or -1 when it could not run or was killed.
int RunProgram(const QString& program, const QStringList& args);

class ChildProcess {
  public:
    // This test program again, running only the child test `test` in `role`; `params` become
    // KIVO_ARCHIVE_<name> variables. Its standard output is the child's report pipe.
    ChildProcess(const QString& test, const QString& role,
                 const QList<std::pair<QString, QString>>& params);
    ~ChildProcess();  // kills it if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The report lines that arrive within `ms` (all that are there, at least one when any
    // comes in time); empty when none came or the child has ended and said all.
    QList<QByteArray> readLines(int ms);
    // Reads lines until one equals `line`; false when the child ends or time runs out first.
    bool waitForLine(const QByteArray& line, int ms = 60000);
    void write(const QByteArray& data);
    void kill();
    // Waits for the end; the exit code, or -1 when it was killed by a signal.
    int wait();
    bool killedBySignal() const { return m_signalled; }

  private:
    pid_t m_pid = -1;
    int m_in = -1, m_out = -1;
    QByteArray m_buffer;
    bool m_signalled = false;
    bool m_ended = false;  // its report pipe was closed
};

}  // namespace ArchiveTesting
