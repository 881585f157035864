#include "archive/archive_writer.h"

#include <QtGlobal>
#include <mutex>
#include <vector>

#include "archive/test_endings.h"
#include "archive/writer_shared.h"
#include "platform/thread_name.h"

// The callers' side of the archive writer: what they hand the thread (writer_thread.cpp), and
// the close, which waits for the thread a bounded time and then leaves what it could not write
// beside the archive, keeping the locks of tests whose ending could be left nowhere.
namespace archive {

using namespace writer;
using std::chrono::milliseconds;

namespace {

QString TestName(const TestHeader& header) {
    return QStringLiteral("%1 %2 开始的实验").arg(header.testDate, header.startTime);
}

// Locks whose ending could be left nowhere: held until the program ends, so that no other
// copy takes the test for a crashed one while this one runs.
std::vector<std::unique_ptr<TestLock>>& HeldUntilExit() {
    static std::vector<std::unique_ptr<TestLock>> locks;
    return locks;
}
std::mutex g_heldMutex;

}  // namespace

ArchiveWriter::Options::Options()
    : busyTimeoutMs(kBusyTimeoutMs),
      pollBatch(15),
      pollWaitMs(10000),
      maxWaitingPolls(50000),
      closeWaitMs(5000),
      retryMs(10000),
      idleLookMs(60000) {}

ArchiveWriter::ArchiveWriter(QString path, FailureHandler onFailure, Options options)
    : m_shared(
          std::make_shared<Shared>(std::move(path), std::move(onFailure), std::move(options))) {
    m_shared->nextTry = Clock::now();
    m_thread = std::thread([shared = m_shared] {
        NameThisThread("kivo-archive");
        shared->run();
    });
}

ArchiveWriter::~ArchiveWriter() { close(); }

std::vector<ArchiveWriter::Unwritten> ArchiveWriter::close() {
    if (m_closed) return {};
    m_closed = true;
    Shared& s = *m_shared;
    std::unique_lock lock(s.mutex);
    s.stopping = true;
    s.stopDeadline = Clock::now() + milliseconds(s.options.closeWaitMs);
    s.work.notify_all();
    // Past the deadline the thread leaves what is left; a write under way (or the last try of
    // a failed archive) may still wait out a busy archive first.
    const auto bound = milliseconds(s.options.closeWaitMs + 2 * s.options.busyTimeoutMs + 2000);
    const bool finished = s.done.wait_for(lock, bound, [&] { return s.finished; });
    if (!finished) {
        // The disk has stalled: the thread keeps its own share of the state and ends when the
        // system call returns, without calling anything of ours.
        lock.unlock();
        {
            std::lock_guard handlers(s.handlerMutex);
            s.abandoned = true;
        }
        lock.lock();
        s.finished = true;  // nothing more is taken
    }

    // What was not written: the records are counted, the state changes left for the next
    // program, and only then the locks let go.
    const std::map<QString, std::vector<StateChange>> endings = s.unwrittenStates(!finished);
    std::map<QString, int> records = s.lost;
    for (const OtherItem& item : s.others)
        if (item.kind == OtherItem::Kind::Record) ++records[item.uid];
    const std::map<QString, int> polls = s.polls.countsByTest();
    std::deque<ReleaseItem> releases;
    releases.swap(s.releases);
    s.others.clear();
    s.polls.clear();
    const QString path = s.path;
    const std::map<QString, QString> names = s.names;
    lock.unlock();

    if (finished) {
        m_thread.join();
    } else {
        m_thread.detach();
        // The thread may still be putting an older ending in place; it puts none after this.
        s.endings.seal();
    }
    std::map<QString, bool> endingLost;
    for (const auto& [uid, changes] : endings) {
        // The thread has ended (or is stuck in a system call, its endings sealed).
        const bool left =
            finished ? s.endings.leaveAtEnd(uid, changes) : TestEndings::leave(path, uid, changes);
        if (left) continue;
        qWarning("archive: the ending of test %s could not be left beside the archive",
                 qPrintable(uid));
        endingLost[uid] = true;
    }
    for (ReleaseItem& item : releases) {
        if (endingLost.count(item.lock->uid()) == 0) continue;
        std::lock_guard held(g_heldMutex);
        HeldUntilExit().push_back(std::move(item.lock));
    }
    releases.clear();

    std::vector<Unwritten> unwritten;
    std::map<QString, Unwritten> byTest;
    for (const auto& [uid, count] : records) byTest[uid].records = count;
    for (const auto& [uid, count] : polls) byTest[uid].polls = count;
    for (const auto& [uid, changes] : endings) byTest[uid].states = int(changes.size());
    for (const auto& [uid, isLost] : endingLost) byTest[uid].endingLost = isLost;
    for (auto& [uid, test] : byTest) {
        const auto name = names.find(uid);
        test.uid = uid;
        test.test = name != names.end() ? name->second : QStringLiteral("实验 %1").arg(uid);
        unwritten.push_back(test);
    }
    return unwritten;
}

void ArchiveWriter::beginTest(const TestHeader& header) {
    OtherItem item{OtherItem::Kind::Begin, header.uid};
    item.header = std::make_shared<const TestHeader>(header);
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->names[header.uid] = TestName(header);
    }
    m_shared->push(std::move(item));
}

void ArchiveWriter::resumeTest(const ArchivedTest& test) {
    OtherItem item{OtherItem::Kind::Resume, test.header.uid};
    item.resumed = std::make_shared<const ArchivedTest>(test);
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->names[test.header.uid] = TestName(test.header);
        m_shared->recovered.insert(test.header.uid);
    }
    m_shared->push(std::move(item));
}

void ArchiveWriter::changeState(const QString& uid, TestState state, qint64 atMs) {
    OtherItem item{OtherItem::Kind::State, uid};
    item.state = state;
    item.atMs = atMs;
    m_shared->push(std::move(item));
}

void ArchiveWriter::addRecord(const QString& uid, const RecordRow& record) {
    OtherItem item{OtherItem::Kind::Record, uid};
    item.record = std::make_shared<const RecordRow>(record);
    m_shared->push(std::move(item));
}

void ArchiveWriter::addPoll(const QString& uid, const PollRow& poll) {
    Shared& s = *m_shared;
    // Copied before the lock is taken: the caller holds the lock only to queue it.
    PollItem item{0, uid, poll, Clock::now()};
    PollItem dropped;  // freed after the lock is let go
    bool wake = false;
    {
        std::lock_guard lock(s.mutex);
        if (s.finished || s.permanent) return;
        item.seq = s.nextSeq++;
        s.polls.push(std::move(item), dropped);
        // The thread learns of a first poll's deadline, and of a full batch.
        wake = s.polls.size() == 1 || s.polls.size() >= size_t(s.options.pollBatch);
    }
    if (wake) s.work.notify_one();
}

void ArchiveWriter::release(std::unique_ptr<TestLock> lock) {
    if (!lock) return;
    Shared& s = *m_shared;
    {
        std::lock_guard guard(s.mutex);
        if (s.finished) return;  // the lock goes here and now
        s.releases.push_back({s.nextSeq++, std::move(lock)});
    }
    s.work.notify_one();
}

bool ArchiveWriter::flush(int timeoutMs) {
    Shared& s = *m_shared;
    std::unique_lock lock(s.mutex);
    const quint64 target = s.nextSeq - 1;
    ++s.flushWaiters;
    s.work.notify_one();
    const bool done = s.done.wait_for(lock, milliseconds(timeoutMs), [&] {
        // A failed archive about to be tried again is waited for; one never to be tried is not.
        if (s.permanent) return true;
        if (s.failed && !s.connected && !s.retryNow && !s.trying) return true;
        return s.lowestPending() > target && !s.releasing &&
               (s.releases.empty() || s.releases.front().seq > target);
    });
    --s.flushWaiters;
    return done && !s.failed;
}

bool ArchiveWriter::failed() const { return m_shared->failed; }

qint64 ArchiveWriter::droppedPolls() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->polls.dropped();
}

}  // namespace archive
