#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <thread>

#include "archive/archive_rows.h"

// The one writer of a program. It owns a connection on a thread of its own and takes work
// through a queue: every call returns at once (a short lock of the queue at most), nothing
// waits for the disk, and every call is safe from any thread.
//
// Records and state changes are each committed in a transaction of their own; polls are
// written in batches, always before whatever was handed after them, so the archive holds
// things in the order they were handed. When the archive cannot be opened or written, the
// failure handler is called once, on the writer's thread, with a message for the operator,
// and from then on the writer drops what it is given. The handler is also told, and the writer
// carries on, when a damaged archive was renamed aside and a new one started in its place.
// The handlers must not wait for the thread that owns the writer (post the message to the GUI
// thread, say): its destructor waits for a handler under way.
namespace archive {

class ArchiveWriter {
  public:
    using FailureHandler = std::function<void(const QString& message)>;
    // Called on the writer's thread once a record's commit has returned.
    using RecordCommitted = std::function<void(const QString& uid, int number)>;

    struct Options {
        int busyTimeoutMs;    // how long a busy archive is waited for
        int pollBatch;        // polls written together ...
        int pollWaitMs;       // ... or once the oldest has waited this long
        int maxWaitingPolls;  // beyond this the oldest waiting polls are dropped
        int closeWaitMs;      // how long the destructor lets pending work be written
        RecordCommitted onRecordCommitted;
        Options();
    };

    ArchiveWriter(QString path, FailureHandler onFailure, Options options = Options());
    // Writes what is pending (for at most closeWaitMs, plus a busy archive's wait), then joins
    // the thread; a thread stuck on a stalled disk is left to finish by itself.
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // The test's row, in state Running; a uid the archive already holds (a recovered test)
    // keeps its row. The calls below name the test by its uid.
    void beginTest(const TestHeader& header);
    // Closed marks the test's window closed and ends a test that had not finished; a finished
    // test keeps its ending.
    void changeState(const QString& uid, TestState state, qint64 atMs);
    // A record handed again under its number replaces the earlier one.
    void addRecord(const QString& uid, const RecordRow& record);
    void addPoll(const QString& uid, const PollRow& poll);

    // Waits until everything handed so far is committed; false on a timeout or a failure.
    bool flush(int timeoutMs);
    // True once the archive has given up (after its one message).
    bool failed() const;
    // Polls dropped because too many were waiting.
    qint64 droppedPolls() const;

  private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

}  // namespace archive
