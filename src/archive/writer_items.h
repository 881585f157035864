#pragma once

#include <QString>
#include <chrono>
#include <memory>

#include "archive/archive_rows.h"
#include "archive/test_lock.h"

// What the archive writer's callers hand it, as it waits in the writer's queues: every item
// carries the number of its call, so that the queues together keep the callers' order.
namespace archive::writer {

using Clock = std::chrono::steady_clock;

struct PollItem {
    quint64 seq = 0;
    QString uid;
    PollRow row;
    Clock::time_point handedAt;
};

// A test's start, a state change or a record: rare beside the polls, so they travel whole.
struct OtherItem {
    enum class Kind { Begin, Resume, State, Record };
    OtherItem(Kind kind, QString uid) : kind(kind), uid(std::move(uid)) {}
    Kind kind;
    QString uid;
    TestState state = TestState::Running;
    qint64 atMs = 0;
    std::shared_ptr<const TestHeader> header;
    std::shared_ptr<const RecordRow> record;
    std::shared_ptr<const ArchivedTest> resumed;
    qint64 pollsInArchive = 0;  // a resumed test's polls the archive held when it was taken up
    quint64 seq = 0;
};

struct ReleaseItem {
    quint64 seq;
    std::unique_ptr<TestLock> lock;
};

}  // namespace archive::writer
