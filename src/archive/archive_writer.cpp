#include "archive/archive_writer.h"

#include <QtGlobal>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <vector>

#include "archive/archive_messages.h"
#include "archive/archive_open.h"
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
    enum class Kind { Begin, State, Record };
    OtherItem(Kind kind, QString uid) : kind(kind), uid(std::move(uid)) {}
    Kind kind;
    QString uid;
    TestState state = TestState::Running;
    qint64 atMs = 0;
    std::unique_ptr<const TestHeader> header;
    std::unique_ptr<const RecordRow> record;
    quint64 seq = 0;
};

}  // namespace

ArchiveWriter::Options::Options()
    : busyTimeoutMs(kBusyTimeoutMs),
      pollBatch(15),
      pollWaitMs(10000),
      maxWaitingPolls(50000),
      closeWaitMs(5000) {}

struct ArchiveWriter::Shared {
    QString path;
    FailureHandler onFailure;
    Options options;

    std::mutex mutex;              // guards everything below up to `failed`
    std::condition_variable work;  // the thread waits here for work
    std::condition_variable done;  // flush and the destructor wait here for progress
    std::deque<PollItem> polls;    // polls are kept apart so the oldest can be dropped
    std::deque<OtherItem> others;  // tests, state changes, records
    quint64 nextSeq = 1;           // the order of the calls, across both queues
    quint64 inFlight = kNone;      // the lowest number being written now
    int flushWaiters = 0;
    bool stopping = false;
    Clock::time_point stopDeadline;
    bool finished = false;
    qint64 dropped = 0;
    std::atomic<bool> failed{false};
    std::atomic<bool> failing{false};  // the one message is on its way

    std::mutex handlerMutex;  // a handler runs under it; the owner leaving takes it too
    bool abandoned = false;

    quint64 lowestPending() const {
        quint64 low = inFlight;
        if (!polls.empty()) low = std::min(low, polls.front().seq);
        if (!others.empty()) low = std::min(low, others.front().seq);
        return low;
    }

    bool hasWork(Clock::time_point now) const {
        if (!others.empty() || (stopping && !polls.empty())) return true;
        if (polls.empty()) return false;
        return failed || flushWaiters > 0 || polls.size() >= size_t(options.pollBatch) ||
               now >= polls.front().handedAt + milliseconds(options.pollWaitMs);
    }

    void push(OtherItem item) {
        if (failed) return;
        {
            std::lock_guard lock(mutex);
            item.seq = nextSeq++;
            others.push_back(std::move(item));
        }
        work.notify_one();
    }

    void tell(const std::function<void()>& call) {
        std::lock_guard lock(handlerMutex);
        if (!abandoned) call();
    }

    // Called on the thread without the queue's lock. The message is out before failed() says
    // so, and before a flush waiting for this returns.
    void fail(const QString& message) {
        if (failing.exchange(true)) return;
        tell([&] {
            if (onFailure) onFailure(message);
        });
        {
            std::lock_guard lock(mutex);
            failed = true;
        }
        done.notify_all();
    }

    void run();
    void write(TestWrites& writes, std::vector<PollItem>& batch, std::optional<OtherItem>& other);
};

void ArchiveWriter::Shared::run() {
    OpenedArchive opened = OpenArchive(path, options.busyTimeoutMs);
    std::unique_ptr<TestWrites> writes;
    if (!opened.db) {
        fail(opened.message + WriterConsequence());
    } else {
        try {
            writes = std::make_unique<TestWrites>(*opened.db);
        } catch (const SqlError& error) {
            fail(CannotOpenText(path, CauseText(error, path, options.busyTimeoutMs)) +
                 WriterConsequence());
        }
        if (writes && !opened.message.isEmpty())
            tell([&] {
                if (onFailure) onFailure(opened.message + QStringLiteral("本次实验存入新档案。"));
            });
    }

    std::unique_lock lock(mutex);
    for (;;) {
        while (!hasWork(Clock::now()) && !(stopping && others.empty() && polls.empty())) {
            if (polls.empty())
                work.wait(lock);
            else
                work.wait_until(lock, polls.front().handedAt + milliseconds(options.pollWaitMs));
        }
        if (others.empty() && polls.empty()) break;

        // The polls handed before the next other item, or else that item.
        std::vector<PollItem> batch;
        std::optional<OtherItem> other;
        const quint64 limit = others.empty() ? kNone : others.front().seq;
        while (!polls.empty() && polls.front().seq < limit && batch.size() < kMostPollsAtOnce) {
            batch.push_back(std::move(polls.front()));
            polls.pop_front();
        }
        if (batch.empty()) {
            other = std::move(others.front());
            others.pop_front();
        }
        inFlight = batch.empty() ? other->seq : batch.front().seq;
        const bool drop = failed || !writes || (stopping && Clock::now() > stopDeadline);
        lock.unlock();
        if (!drop) {
            try {
                write(*writes, batch, other);
            } catch (const SqlError& error) {
                writes.reset();
                opened.db.reset();
                fail(CannotWriteText(path, CauseText(error, path, options.busyTimeoutMs)) +
                     WriterConsequence());
            }
        }
        batch.clear();
        other.reset();
        lock.lock();
        inFlight = kNone;
        done.notify_all();
    }
    lock.unlock();
    writes.reset();
    opened.db.reset();
    lock.lock();
    finished = true;
    done.notify_all();
}

void ArchiveWriter::Shared::write(TestWrites& writes, std::vector<PollItem>& batch,
                                  std::optional<OtherItem>& other) {
    if (!batch.empty()) {
        std::vector<std::pair<QString, const PollRow*>> rows;
        rows.reserve(batch.size());
        for (const PollItem& item : batch) rows.emplace_back(item.uid, &item.row);
        writes.addPolls(rows);
        return;
    }
    const OtherItem& item = *other;
    switch (item.kind) {
        case OtherItem::Kind::Begin:
            writes.beginTest(*item.header);
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
                tell([&] { options.onRecordCommitted(item.uid, item.record->number); });
            }
            break;
    }
}

ArchiveWriter::ArchiveWriter(QString path, FailureHandler onFailure, Options options)
    : m_shared(std::make_shared<Shared>()) {
    m_shared->path = std::move(path);
    m_shared->onFailure = std::move(onFailure);
    m_shared->options = std::move(options);
    m_thread = std::thread([shared = m_shared] { shared->run(); });
}

ArchiveWriter::~ArchiveWriter() {
    Shared& s = *m_shared;
    std::unique_lock lock(s.mutex);
    s.stopping = true;
    s.stopDeadline = Clock::now() + milliseconds(s.options.closeWaitMs);
    s.work.notify_all();
    // Past the deadline the thread drops what is left; a write under way may still wait out
    // a busy archive first.
    const auto bound = milliseconds(s.options.closeWaitMs + s.options.busyTimeoutMs + 2000);
    const bool finished = s.done.wait_for(lock, bound, [&] { return s.finished; });
    lock.unlock();
    if (finished) {
        m_thread.join();
        return;
    }
    // The disk has stalled: the thread keeps its own share of the state and ends when the
    // system call returns, without calling anything of ours.
    std::lock_guard handlers(s.handlerMutex);
    s.abandoned = true;
    m_thread.detach();
}

void ArchiveWriter::beginTest(const TestHeader& header) {
    OtherItem item{OtherItem::Kind::Begin, header.uid};
    item.header = std::make_unique<const TestHeader>(header);
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
    item.record = std::make_unique<const RecordRow>(record);
    m_shared->push(std::move(item));
}

void ArchiveWriter::addPoll(const QString& uid, const PollRow& poll) {
    Shared& s = *m_shared;
    if (s.failed) return;
    // Copied before the lock is taken: the caller holds the lock only to queue it.
    PollItem item{0, uid, poll, Clock::now()};
    bool wake = false;
    {
        std::lock_guard lock(s.mutex);
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

bool ArchiveWriter::flush(int timeoutMs) {
    Shared& s = *m_shared;
    std::unique_lock lock(s.mutex);
    const quint64 target = s.nextSeq - 1;
    ++s.flushWaiters;
    s.work.notify_one();
    const bool done = s.done.wait_for(lock, milliseconds(timeoutMs),
                                      [&] { return s.failed || s.lowestPending() > target; });
    --s.flushWaiters;
    return done && !s.failed;
}

bool ArchiveWriter::failed() const { return m_shared->failed; }

qint64 ArchiveWriter::droppedPolls() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->dropped;
}

}  // namespace archive
