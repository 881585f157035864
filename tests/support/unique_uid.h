#pragma once

#include <QString>
#include <QUuid>

// A uid for a test made by a test. A running test's lock includes a name in the computer's
// abstract socket space, which every process on the machine shares: a uid written into a test's
// source would be locked by every copy of that test running at the same moment (ctest -j, a
// second checkout's run), and each would find the other's test "running".
inline QString UniqueUid() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }
