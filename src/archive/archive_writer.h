#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "archive/archive_messages.h"
#include "archive/archive_rows.h"

// The one writer of a program. It owns a connection on a thread of its own and takes work
// through a queue: every call returns at once (a short lock of the queue at most), nothing
// waits for the disk, and every call is safe from any thread.
//
// Tests, state changes and records are each committed in a transaction of their own, ahead of
// any poll waiting (a record is in the archive a few milliseconds after it was handed); polls
// are written in batches, in the order they were handed. When the archive cannot be opened or
// written (a full disk, a busy or damaged archive, a missing folder), the message handler is
// told once, on the writer's thread, and the writer keeps everything unwritten in memory, in
// order (polls up to `maxWaitingPolls`, the oldest dropped and counted beyond), and tries again
// every `retryMs` and at every new record. Meanwhile a test's unwritten ending is left beside
// the archive at once (see writer_endings.h). Once the archive takes writes again it writes
// all it kept, and what the archive lacks of the tests under way (counted, not guessed), and
// the handler is told so, with the polls that were lost. A damaged archive is moved aside
// (when no other copy of the program has it open) and the tests under way are written anew,
// whole, into the new one. An archive this program can never use (a newer program's, no WAL)
// is said once, with no promise to retry: nothing is kept for it. The handlers must not wait
// for the thread that owns the writer (post the message to the GUI thread, say): close()
// waits for a handler under way.
namespace archive {

class TestLock;

class ArchiveWriter {
  public:
    // A message for the operator: a failure, a recovery, an archive moved aside.
    using FailureHandler = std::function<void(const QString& message)>;
    // Called on the writer's thread once a record's commit has returned.
    using RecordCommitted = std::function<void(const QString& uid, int number)>;

    struct Options {
        int busyTimeoutMs;    // how long a busy archive is waited for
        int pollBatch;        // polls written together ...
        int pollWaitMs;       // ... or once the oldest has waited this long
        int maxWaitingPolls;  // beyond this the oldest waiting polls are dropped
        int closeWaitMs;      // how long close() lets pending work be written
        int retryMs;          // how often a failed archive is tried again
        // How often the endings other programs left beside the archive are looked for: after a
        // write, once the last look is `retryMs` old; without writes, every `idleLookMs` (each
        // such look wakes an idle program, and costs it CPU, for that look alone).
        int idleLookMs;
        RecordCommitted onRecordCommitted;
        Options();
    };

    // What close() could not write of one test: its records, polls and state changes, and
    // whether those could be left nowhere either.
    using Unwritten = UnwrittenTest;

    ArchiveWriter(QString path, FailureHandler onFailure, Options options = Options());
    // close(), when it was not called.
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // The test's row, in state Running; a uid the archive already holds (a recovered test)
    // keeps its row. The calls below name the test by its uid.
    void beginTest(const TestHeader& header);
    // A test of the archive goes on in this program (a recovered test): what it holds already,
    // for writing it anew should the archive have to be replaced.
    void resumeTest(const ArchivedTest& test);
    // Closed marks the test's window closed and ends a test that had not finished; a finished
    // test keeps its ending.
    void changeState(const QString& uid, TestState state, qint64 atMs);
    // A record handed again under its number replaces the earlier one.
    void addRecord(const QString& uid, const RecordRow& record);
    void addPoll(const QString& uid, const PollRow& poll);
    // Lets go of a test's lock once everything handed before is committed. Should the program
    // end first, the test's unwritten state changes are left beside the archive (see
    // test_endings.h) before the lock goes, for the next program to write.
    void release(std::unique_ptr<TestLock> lock);

    // Waits until everything handed so far is committed; false on a timeout, or at once while
    // the archive fails.
    bool flush(int timeoutMs);
    // True while the archive cannot be written (from its message on), until it takes writes
    // again.
    bool failed() const;
    // Polls dropped because too many were waiting.
    qint64 droppedPolls() const;

    // Writes what is pending (for at most closeWaitMs, plus a busy archive's wait, one more
    // try when the archive fails), leaves the endings that could not be written, lets go of the
    // locks and ends the thread; a thread stuck on a stalled disk is left to finish by itself.
    // Returns the tests with records, polls or state changes that are not in the archive, with
    // whether those state changes could be kept nowhere (their locks are then held until the
    // program ends). Later calls do nothing.
    std::vector<Unwritten> close();

  private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    bool m_closed = false;
};

}  // namespace archive
