#include "archive/archive_writer.h"

#include <QtGlobal>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "archive/archive_messages.h"
#include "archive/poll_backlog.h"
#include "archive/rewrite_log.h"
#include "archive/test_endings.h"
#include "archive/writer_connection.h"
#include "archive/writer_endings.h"
#include "archive/writer_items.h"

// The writer's thread and the order of its work. Each failure path has its own file:
// connecting and a damaged file (writer_connection), writing the tests under way anew
// (rewrite_log), the endings beside the archive (writer_endings), the polls waiting
// (poll_backlog).
namespace archive {

using namespace writer;
using std::chrono::milliseconds;

namespace {

// The most polls one transaction takes from the queue (after a stall, many may wait).
constexpr size_t kMostPollsAtOnce = 500;
constexpr quint64 kNone = std::numeric_limits<quint64>::max();

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
      retryMs(10000) {}

struct ArchiveWriter::Shared {
    Shared(QString path, FailureHandler handler, Options opts)
        : path(std::move(path)),
          onFailure(std::move(handler)),
          options(std::move(opts)),
          polls(size_t(std::max(options.maxWaitingPolls, 1))),
          connection(this->path, options.busyTimeoutMs),
          log(size_t(std::max(options.maxWaitingPolls, 1))),
          endings(this->path) {}

    QString path;
    FailureHandler onFailure;
    Options options;

    std::mutex mutex;              // guards everything below up to `failed`
    std::condition_variable work;  // the thread waits here for work
    std::condition_variable done;  // flush and close() wait here for progress
    PollBacklog polls;             // polls are kept apart so the oldest can be dropped
    std::deque<OtherItem> others;  // tests, state changes, records
    std::deque<ReleaseItem> releases;
    std::map<QString, QString> names;   // each test handed, as the operator knows it
    std::set<QString> recovered;        // tests taken up from the archive, in it from the start
    std::map<QString, int> lost;        // records never to be written (a permanent failure)
    quint64 nextSeq = 1;                // the order of the calls, across the queues
    quint64 inFlight = kNone;           // the lowest number being written now
    std::optional<OtherItem> underWay;  // the test, state change or record being written now
    int flushWaiters = 0;
    bool retryNow = false;   // a record or state change came since the last try
    bool trying = false;     // the archive is being opened
    bool connected = false;  // the writer has the archive open
    bool releasing = false;  // locks taken from `releases` are being let go
    bool stopping = false;
    bool lastTry = false;    // the archive failed at the end and was tried once more
    bool permanent = false;  // the archive can never be used by this program
    Clock::time_point stopDeadline;
    bool finished = false;
    std::atomic<bool> failed{false};

    std::mutex handlerMutex;  // a handler runs under it; the owner leaving takes it too
    bool abandoned = false;

    // The thread's own, untouched by the callers.
    WriterConnection connection;
    RewriteLog log;
    OwnEndings endings;
    bool reported = false;              // the failure has been told and not yet its end
    Clock::time_point nextTry;          // while there is no connection
    Clock::time_point nextEndingsLook;  // while there is one

    quint64 lowestPending() const {
        quint64 low = inFlight;
        if (!polls.empty()) low = std::min(low, polls.front().seq);
        if (!others.empty()) low = std::min(low, others.front().seq);
        return low;
    }

    bool hasWork(Clock::time_point now) const {
        if (!others.empty() || (stopping && !polls.empty())) return true;
        if (polls.empty()) return false;
        // After a failure everything kept is written at once, the polls too.
        return reported || flushWaiters > 0 || polls.size() >= size_t(options.pollBatch) ||
               now >= polls.front().handedAt + milliseconds(options.pollWaitMs);
    }

    // With the queue's lock: what an archive that can never be used would keep is counted
    // (the records) or let go of (polls, state changes, locks).
    void forget(OtherItem& item) {
        if (item.kind == OtherItem::Kind::Record) ++lost[item.uid];
    }

    void push(OtherItem item) {
        {
            std::lock_guard lock(mutex);
            if (finished) return;
            if (permanent) return forget(item);
            item.seq = nextSeq++;
            retryNow = true;  // a failed archive is tried again at once
            others.push_back(std::move(item));
        }
        work.notify_one();
    }

    void tell(const QString& message) {
        std::lock_guard lock(handlerMutex);
        if (!abandoned && onFailure) onFailure(message);
    }

    // Thread only, without the queue's lock. The message is out before failed() says so, and
    // before a flush waiting for this returns.
    void fail(const QString& message, bool lasting = false) {
        connection.close();
        nextTry = Clock::now() + milliseconds(options.retryMs);
        if (reported && !lasting) return;
        reported = true;
        tell(message + (lasting ? PermanentConsequence() : WriterConsequence()));
        {
            std::lock_guard lock(mutex);
            failed = true;
            permanent = lasting;
        }
        done.notify_all();
    }

    // Thread only, with the queue's lock: the archive takes writes again and all that was
    // kept is written.
    void restored(std::unique_lock<std::mutex>& lock) {
        reported = false;
        failed = false;
        const qint64 lostPolls = polls.takeUnsaid();
        lock.unlock();
        tell(WritesRestoredText(path, lostPolls));
        lock.lock();
    }

    // Thread only, with the queue's lock: each test's state changes not in the archive.
    // Only tests whose row was committed count, or that were taken up from the archive:
    // another program can offer only those. The log is the thread's: `all` when the thread
    // may still be running.
    std::map<QString, std::vector<StateChange>> unwrittenStates(bool all = false) const {
        std::map<QString, std::vector<StateChange>> states;
        const auto add = [&](const OtherItem& item) {
            if (item.kind == OtherItem::Kind::State &&
                (all || log.holds(item.uid) || recovered.count(item.uid) != 0))
                states[item.uid].push_back({item.state, item.atMs});
        };
        // A change under way came before all that waits; a stalled write may never end.
        if (underWay) add(*underWay);
        for (const OtherItem& item : others) add(item);
        return states;
    }

    // Thread only, with the queue's lock: the endings beside the archive made to match what
    // is unwritten; a test whose ending can be kept nowhere is said. Once close() has left the
    // thread behind, the endings are close()'s: what it left stays.
    void keepEndings(std::unique_lock<std::mutex>& lock) {
        if (finished) return;
        const auto states = unwrittenStates();
        if (states.empty() && !endings.any()) return;
        lock.unlock();
        const QStringList lostEndings = endings.update(states);
        lock.lock();
        for (const QString& uid : lostEndings) {
            const auto name = names.find(uid);
            const QString test =
                name != names.end() ? name->second : QStringLiteral("实验 %1").arg(uid);
            lock.unlock();
            tell(EndingNotKeptText(path, test));
            lock.lock();
        }
    }

    // Thread only, with the queue's lock: `item`, an ending about to be written, is left beside
    // the archive first with the test's other unwritten changes, in their order.
    void leaveAhead(const OtherItem& item, std::unique_lock<std::mutex>& lock) {
        if (finished || item.kind != OtherItem::Kind::State || !IsEnding(item.state) ||
            !(log.holds(item.uid) || recovered.count(item.uid) != 0))
            return;
        std::vector<StateChange> changes{{item.state, item.atMs}};
        for (const OtherItem& later : others)
            if (later.kind == OtherItem::Kind::State && later.uid == item.uid)
                changes.push_back({later.state, later.atMs});
        lock.unlock();
        endings.leaveAhead(item.uid, changes);
        lock.lock();
    }

    void run();
    bool connect();
    void forgetAll(std::unique_lock<std::mutex>& lock);
    void write(std::vector<PollItem>& batch, std::optional<OtherItem>& other);
    std::vector<ReleaseItem> dueReleases();
};

// Opens the archive, writes the endings other programs left and what the archive lacks of the
// tests under way. False (after the message) when the archive cannot be used yet.
bool ArchiveWriter::Shared::connect() {
    const WriterConnection::Opened opened = connection.open();
    if (!opened.ready) {
        fail(opened.message, opened.permanent);
        return false;
    }
    try {
        if (opened.movedAside) tell(opened.message + QStringLiteral("本次实验存入新档案。"));
        TakeUpEndings(path, connection.writes());
        nextEndingsLook = Clock::now() + milliseconds(options.retryMs);
        const qint64 lostPolls = log.complete(connection.writes());
        if (lostPolls > 0) {
            std::lock_guard lock(mutex);
            polls.addUnsaid(lostPolls);
        }
        return true;
    } catch (const SqlError& error) {
        fail(connection.failed(error));
        return false;
    }
}

// An archive that can never be used: nothing waits for it.
void ArchiveWriter::Shared::forgetAll(std::unique_lock<std::mutex>& lock) {
    for (OtherItem& item : others) forget(item);
    others.clear();
    polls.clear();
    std::deque<ReleaseItem> locks;
    locks.swap(releases);
    lock.unlock();
    locks.clear();
    lock.lock();
    done.notify_all();
}

std::vector<ReleaseItem> ArchiveWriter::Shared::dueReleases() {
    std::vector<ReleaseItem> due;
    const quint64 low = lowestPending();
    while (!releases.empty() && releases.front().seq < low) {
        due.push_back(std::move(releases.front()));
        releases.pop_front();
    }
    return due;
}

void ArchiveWriter::Shared::run() {
    std::unique_lock lock(mutex);
    for (;;) {
        if (permanent) {
            if (!others.empty() || !polls.empty() || !releases.empty()) forgetAll(lock);
            if (stopping) break;
            work.wait(lock);
            continue;
        }
        if (std::vector<ReleaseItem> due = dueReleases(); !due.empty()) {
            releasing = true;
            lock.unlock();
            for (ReleaseItem& item : due) log.forget(item.lock->uid());
            lock.lock();
            for (ReleaseItem& item : due) recovered.erase(item.lock->uid());
            lock.unlock();
            due.clear();  // the locks go
            lock.lock();
            releasing = false;
            done.notify_all();
            continue;
        }
        const bool empty = others.empty() && polls.empty();
        if (stopping && (empty || Clock::now() > stopDeadline || lastTry)) break;

        if (!connection.isOpen()) {
            if (!stopping && !retryNow && Clock::now() < nextTry) {
                // Endings that wait for the archive are kept beside it meanwhile.
                const quint64 handed = nextSeq;
                keepEndings(lock);
                if (handed == nextSeq && !retryNow && !stopping) work.wait_until(lock, nextTry);
                continue;
            }
            lastTry = stopping;
            retryNow = false;
            trying = true;
            lock.unlock();
            const bool ready = connect();
            lock.lock();
            trying = false;
            connected = ready;
            if (ready && reported && others.empty() && polls.empty() && inFlight == kNone)
                restored(lock);
            if (ready) lastTry = false;
            done.notify_all();
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (!hasWork(now)) {
            if (stopping) break;
            if (now >= nextEndingsLook) {
                // Endings other programs left since are written at every tick.
                lock.unlock();
                try {
                    TakeUpEndings(path, connection.writes());
                    nextEndingsLook = Clock::now() + milliseconds(options.retryMs);
                } catch (const SqlError& error) {
                    fail(connection.failed(error));
                }
                lock.lock();
                connected = connection.isOpen();
                done.notify_all();
                continue;
            }
            Clock::time_point until = nextEndingsLook;
            if (!polls.empty())
                until = std::min(until, polls.front().handedAt + milliseconds(options.pollWaitMs));
            work.wait_until(lock, until);
            continue;
        }

        // The tests, state changes and records first; then the polls, oldest first.
        std::vector<PollItem> batch;
        std::optional<OtherItem> other;
        if (!others.empty()) {
            other = std::move(others.front());
            others.pop_front();
        } else {
            batch = polls.take(kMostPollsAtOnce);
        }
        inFlight = batch.empty() ? other->seq : batch.front().seq;
        if (other) {
            underWay = *other;
            leaveAhead(*other, lock);
        }
        lock.unlock();
        bool written = false;
        try {
            write(batch, other);
            written = true;
        } catch (const SqlError& error) {
            fail(connection.failed(error));
        }
        if (written) {
            if (other)
                log.committed(*other);
            else
                log.committed(batch);
        }
        lock.lock();
        inFlight = kNone;
        underWay.reset();
        if (!written) {
            retryNow = false;
            connected = false;
            // Kept, in their places, for the next try.
            if (other) others.push_front(std::move(*other));
            polls.putBack(batch);
            keepEndings(lock);
        } else {
            if (other && other->kind == OtherItem::Kind::State && endings.any()) keepEndings(lock);
            if (reported && others.empty() && polls.empty()) restored(lock);
        }
        done.notify_all();
    }
    lock.unlock();
    connection.close();
    lock.lock();
    finished = true;
    done.notify_all();
}

void ArchiveWriter::Shared::write(std::vector<PollItem>& batch, std::optional<OtherItem>& other) {
    TestWrites& writes = connection.writes();
    if (!batch.empty()) {
        std::vector<std::pair<QString, const PollRow*>> rows;
        rows.reserve(batch.size());
        for (const PollItem& item : batch) rows.emplace_back(item.uid, &item.row);
        writes.addPolls(rows);
        return;
    }
    OtherItem& item = *other;
    switch (item.kind) {
        case OtherItem::Kind::Begin:
            writes.beginTest(*item.header);
            break;
        case OtherItem::Kind::Resume:
            if (const auto held = writes.counts(item.uid)) item.pollsInArchive = held->polls;
            break;
        case OtherItem::Kind::State:
            if (writes.changeState(item.uid, item.state, item.atMs) == 0)
                qWarning("archive: a state change for test %s, which is not in the archive",
                         qPrintable(item.uid));
            break;
        case OtherItem::Kind::Record:
            if (writes.addRecord(item.uid, *item.record) == 0) {
                qWarning("archive: record %d of test %s, which is not in the archive",
                         item.record->number, qPrintable(item.uid));
            } else if (options.onRecordCommitted) {
                std::lock_guard handlers(handlerMutex);
                if (!abandoned) options.onRecordCommitted(item.uid, item.record->number);
            }
            break;
    }
}

ArchiveWriter::ArchiveWriter(QString path, FailureHandler onFailure, Options options)
    : m_shared(
          std::make_shared<Shared>(std::move(path), std::move(onFailure), std::move(options))) {
    m_shared->nextTry = Clock::now();
    m_shared->nextEndingsLook = Clock::now();
    m_thread = std::thread([shared = m_shared] { shared->run(); });
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
