#include "archive/archive_writer.h"

#include <QtGlobal>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "archive/archive_messages.h"
#include "archive/archive_open.h"
#include "archive/test_endings.h"
#include "archive/test_lock.h"
#include "archive/test_writes.h"

namespace archive {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// The most polls one transaction takes from the queue (after a stall, many may wait).
constexpr size_t kMostPollsAtOnce = 500;
constexpr quint64 kNone = std::numeric_limits<quint64>::max();

struct PollItem {
    quint64 seq;
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
    quint64 seq = 0;
};
struct ReleaseItem {
    quint64 seq;
    std::unique_ptr<TestLock> lock;
};

// Everything committed of a test under way, to write it anew into a new archive.
struct TestLog {
    std::shared_ptr<const TestHeader> header;
    std::vector<StateChange> states;
    std::map<int, RecordRow> records;
    std::vector<PollRow> polls;
};

QString TestName(const TestHeader& header) {
    return QStringLiteral("%1 %2 开始的实验").arg(header.testDate, header.startTime);
}

}  // namespace

ArchiveWriter::Options::Options()
    : busyTimeoutMs(kBusyTimeoutMs),
      pollBatch(15),
      pollWaitMs(10000),
      maxWaitingPolls(50000),
      closeWaitMs(5000),
      retryMs(10000) {}

struct ArchiveWriter::Shared {
    QString path;
    FailureHandler onFailure;
    Options options;

    std::mutex mutex;              // guards everything below up to `failed`
    std::condition_variable work;  // the thread waits here for work
    std::condition_variable done;  // flush and close() wait here for progress
    std::deque<PollItem> polls;    // polls are kept apart so the oldest can be dropped
    std::deque<OtherItem> others;  // tests, state changes, records
    std::deque<ReleaseItem> releases;
    std::map<QString, QString> names;  // each test handed, as the operator knows it
    quint64 nextSeq = 1;               // the order of the calls, across the queues
    quint64 inFlight = kNone;          // the lowest number being written now
    int flushWaiters = 0;
    bool retryNow = false;   // a record or state change came since the last try
    bool trying = false;     // the archive is being opened
    bool connected = false;  // the writer has the archive open
    bool releasing = false;  // locks taken from `releases` are being let go
    bool stopping = false;
    bool lastTry = false;  // the archive failed at the end and was tried once more
    Clock::time_point stopDeadline;
    bool finished = false;
    qint64 dropped = 0;
    std::atomic<bool> failed{false};

    std::mutex handlerMutex;  // a handler runs under it; the owner leaving takes it too
    bool abandoned = false;

    // The thread's own, untouched by the callers.
    OpenedArchive opened;
    std::unique_ptr<TestWrites> writes;
    bool reported = false;      // the failure has been told and not yet its end
    bool damaged = false;       // the last failure was a damaged file
    Clock::time_point nextTry;  // while there is no connection
    std::map<QString, TestLog> logs;

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

    void push(OtherItem item) {
        {
            std::lock_guard lock(mutex);
            if (finished) return;
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
    void fail(QString message) {  // a copy: the connection's message goes with it
        disconnect();
        nextTry = Clock::now() + milliseconds(options.retryMs);
        if (reported) return;
        reported = true;
        tell(message + WriterConsequence());
        {
            std::lock_guard lock(mutex);
            failed = true;
        }
        done.notify_all();
    }

    // Thread only, with the queue's lock: the archive takes writes again and all that was
    // kept is written.
    void restored(std::unique_lock<std::mutex>& lock) {
        reported = false;
        failed = false;
        lock.unlock();
        tell(WritesRestoredText(path));
        lock.lock();
    }

    // The statements, then the connection, then the hold on the file.
    void disconnect() {
        writes.reset();
        opened.db.reset();
        opened = OpenedArchive();
    }

    void run();
    bool connect();
    void takeUpEndings();
    void writeAnew();
    void write(std::vector<PollItem>& batch, std::optional<OtherItem>& other);
    void logged(std::vector<PollItem>& batch, std::optional<OtherItem>& other);
    std::vector<ReleaseItem> dueReleases();
};

// Opens the archive, writes the endings other programs left and the tests that a new archive
// lacks. False (after the message) when the archive cannot be used yet.
bool ArchiveWriter::Shared::connect() {
    opened = OpenArchive(path, options.busyTimeoutMs, kArchiveVersion,
                         damaged ? Damage::KnownDamaged : Damage::MoveAside);
    if (!opened.db) {
        fail(opened.message);
        return false;
    }
    try {
        writes = std::make_unique<TestWrites>(*opened.db);
        damaged = false;
        if (opened.movedAside) tell(opened.message + QStringLiteral("本次实验存入新档案。"));
        takeUpEndings();
        writeAnew();
        return true;
    } catch (const SqlError& error) {
        damaged = error.primary() == SQLITE_CORRUPT || error.primary() == SQLITE_NOTADB;
        fail(CannotWriteText(path, CauseText(error, path, options.busyTimeoutMs)));
        return false;
    }
}

void ArchiveWriter::Shared::takeUpEndings() {
    for (const QString& uid : TestEndings::waiting(path)) {
        // Its program has let go of it; one that takes it up first writes it.
        const std::unique_ptr<TestLock> lock = TestLock::tryAcquireEnded(path, uid);
        if (!lock) continue;
        for (const StateChange& change : TestEndings::read(path, uid))
            writes->changeState(uid, change.state, change.atMs);
        TestEndings::remove(path, uid);
    }
}

// The tests under way that the archive does not hold (it was new-made in place of a damaged
// one) are written whole, as far as they were committed before.
void ArchiveWriter::Shared::writeAnew() {
    for (auto& [uid, log] : logs) {
        if (!log.header || writes->holds(uid)) continue;
        writes->beginTest(*log.header);
        for (const StateChange& change : log.states)
            writes->changeState(uid, change.state, change.atMs);
        for (const auto& [number, record] : log.records) writes->addRecord(uid, record);
        std::vector<std::pair<QString, const PollRow*>> rows;
        for (const PollRow& poll : log.polls) {
            rows.emplace_back(uid, &poll);
            if (rows.size() == kMostPollsAtOnce) {
                writes->addPolls(rows);
                rows.clear();
            }
        }
        if (!rows.empty()) writes->addPolls(rows);
    }
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
        if (std::vector<ReleaseItem> due = dueReleases(); !due.empty()) {
            releasing = true;
            lock.unlock();
            for (ReleaseItem& item : due) logs.erase(item.lock->uid());
            due.clear();  // the locks go
            lock.lock();
            releasing = false;
            done.notify_all();
            continue;
        }
        const bool empty = others.empty() && polls.empty();
        if (stopping && (empty || Clock::now() > stopDeadline || lastTry)) break;

        if (!writes) {
            if (!stopping && !retryNow && Clock::now() < nextTry) {
                work.wait_until(lock, nextTry);
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
        if (!hasWork(Clock::now())) {
            if (stopping) break;
            if (polls.empty())
                work.wait(lock);
            else
                work.wait_until(lock, polls.front().handedAt + milliseconds(options.pollWaitMs));
            continue;
        }

        // The tests, state changes and records first; then the polls, oldest first.
        std::vector<PollItem> batch;
        std::optional<OtherItem> other;
        if (!others.empty()) {
            other = std::move(others.front());
            others.pop_front();
        } else {
            while (!polls.empty() && batch.size() < kMostPollsAtOnce) {
                batch.push_back(std::move(polls.front()));
                polls.pop_front();
            }
        }
        inFlight = batch.empty() ? other->seq : batch.front().seq;
        lock.unlock();
        bool written = false;
        try {
            write(batch, other);
            written = true;
        } catch (const SqlError& error) {
            damaged = error.primary() == SQLITE_CORRUPT || error.primary() == SQLITE_NOTADB;
            fail(CannotWriteText(path, CauseText(error, path, options.busyTimeoutMs)));
        }
        if (written) logged(batch, other);
        lock.lock();
        inFlight = kNone;
        if (!written) {
            retryNow = false;
            connected = false;
            // Kept, in their places, for the next try.
            if (other) others.push_front(std::move(*other));
            for (auto it = batch.rbegin(); it != batch.rend(); ++it)
                polls.push_front(std::move(*it));
        } else if (reported && others.empty() && polls.empty()) {
            restored(lock);
        }
        done.notify_all();
    }
    lock.unlock();
    disconnect();
    lock.lock();
    finished = true;
    done.notify_all();
}

void ArchiveWriter::Shared::write(std::vector<PollItem>& batch, std::optional<OtherItem>& other) {
    if (!batch.empty()) {
        std::vector<std::pair<QString, const PollRow*>> rows;
        rows.reserve(batch.size());
        for (const PollItem& item : batch) rows.emplace_back(item.uid, &item.row);
        writes->addPolls(rows);
        return;
    }
    const OtherItem& item = *other;
    switch (item.kind) {
        case OtherItem::Kind::Begin:
            writes->beginTest(*item.header);
            break;
        case OtherItem::Kind::Resume:
            break;
        case OtherItem::Kind::State:
            if (writes->changeState(item.uid, item.state, item.atMs) == 0)
                qWarning("archive: a state change for test %s, which is not in the archive",
                         qPrintable(item.uid));
            break;
        case OtherItem::Kind::Record:
            if (writes->addRecord(item.uid, *item.record) == 0) {
                qWarning("archive: record %d of test %s, which is not in the archive",
                         item.record->number, qPrintable(item.uid));
            } else if (options.onRecordCommitted) {
                std::lock_guard handlers(handlerMutex);
                if (!abandoned) options.onRecordCommitted(item.uid, item.record->number);
            }
            break;
    }
}

// What was just committed, kept for the tests under way.
void ArchiveWriter::Shared::logged(std::vector<PollItem>& batch, std::optional<OtherItem>& other) {
    for (PollItem& item : batch) {
        const auto log = logs.find(item.uid);
        if (log != logs.end()) log->second.polls.push_back(std::move(item.row));
    }
    if (!other) return;
    if (other->kind == OtherItem::Kind::Begin) {
        logs[other->uid].header = other->header;
        return;
    }
    if (other->kind == OtherItem::Kind::Resume) {
        TestLog& log = logs[other->uid];
        log.header = std::make_shared<const TestHeader>(other->resumed->header);
        log.states = other->resumed->states;
        for (const RecordRow& record : other->resumed->records) log.records[record.number] = record;
        return;
    }
    const auto log = logs.find(other->uid);
    if (log == logs.end()) return;
    if (other->kind == OtherItem::Kind::State)
        log->second.states.push_back({other->state, other->atMs});
    else if (other->kind == OtherItem::Kind::Record)
        log->second.records[other->record->number] = *other->record;
}

ArchiveWriter::ArchiveWriter(QString path, FailureHandler onFailure, Options options)
    : m_shared(std::make_shared<Shared>()) {
    m_shared->path = std::move(path);
    m_shared->onFailure = std::move(onFailure);
    m_shared->options = std::move(options);
    m_shared->nextTry = Clock::now();
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
    std::map<QString, std::vector<StateChange>> endings;
    std::map<QString, int> records;
    for (const OtherItem& item : s.others) {
        if (item.kind == OtherItem::Kind::State)
            endings[item.uid].push_back({item.state, item.atMs});
        if (item.kind == OtherItem::Kind::Record) ++records[item.uid];
    }
    std::deque<ReleaseItem> releases;
    releases.swap(s.releases);
    s.others.clear();
    s.polls.clear();
    std::vector<Unwritten> unwritten;
    for (const auto& [uid, count] : records) {
        const auto name = s.names.find(uid);
        unwritten.push_back(
            {uid, name != s.names.end() ? name->second : QStringLiteral("实验 %1").arg(uid),
             count});
    }
    const QString path = s.path;
    lock.unlock();

    if (finished)
        m_thread.join();
    else
        m_thread.detach();
    for (const auto& [uid, changes] : endings)
        if (!TestEndings::leave(path, uid, changes))
            qWarning("archive: the ending of test %s could not be left beside the archive",
                     qPrintable(uid));
    releases.clear();
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
    bool wake = false;
    {
        std::lock_guard lock(s.mutex);
        if (s.finished) return;
        item.seq = s.nextSeq++;
        s.polls.push_back(std::move(item));
        if (s.polls.size() > size_t(s.options.maxWaitingPolls)) {
            std::swap(item, s.polls.front());  // freed after the lock is let go
            s.polls.pop_front();
            ++s.dropped;
        }
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
        // A failed archive about to be tried again is waited for.
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
    return m_shared->dropped;
}

}  // namespace archive
