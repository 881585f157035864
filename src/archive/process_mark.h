#pragma once

#include <QString>

// A process as it names itself in the archive, for a test whose program could not make the
// test's lock file: the computer's name, the boot it runs in, its pid and its start time (from
// /proc/<pid>/stat, in clock ticks since the boot). While that process lives, no other program
// takes the test for a crashed one. A pid alone may be taken by another process later; the
// start time tells them apart. A mark whose start time could not be read (no file descriptor
// left, say) is honoured while any process has its pid: a test is never offered because its
// program's mark could not be read in full.
namespace archive {

// This process's mark: "<host>/<boot id>/<pid>/<start>"; the parts that cannot be read empty.
QString OwnProcessMark();

enum class MarkedProcess {
    None,             // no mark: the locks alone tell
    Alive,            // the process runs on this computer
    Gone,             // it ended (or its computer has started again since)
    AnotherComputer,  // it ran on another computer, where alone it can be checked
};

// What `mark` says now; `host` is set to the computer it names.
MarkedProcess CheckProcessMark(const QString& mark, QString* host = nullptr);

}  // namespace archive
