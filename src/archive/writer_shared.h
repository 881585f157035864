#pragma once

#include <QtGlobal>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "archive/archive_messages.h"
#include "archive/archive_writer.h"
#include "archive/poll_backlog.h"
#include "archive/rewrite_log.h"
#include "archive/writer_connection.h"
#include "archive/writer_endings.h"
#include "archive/writer_items.h"

// What the archive writer's callers and its thread share: the queues, in the callers' order,
// and the state of the archive as the thread last found it. The callers' side is in
// archive_writer.cpp, the thread's in writer_thread.cpp.
namespace archive {

// No item is being written.
inline constexpr quint64 kNone = std::numeric_limits<quint64>::max();

struct ArchiveWriter::Shared {
    Shared(QString path, FailureHandler handler, Options opts)
        : path(std::move(path)),
          onFailure(std::move(handler)),
          options(std::move(opts)),
          polls(size_t(std::max(options.maxWaitingPolls, 1))),
          connection(this->path, options.busyTimeoutMs),
          log(size_t(std::max(options.maxWaitingPolls, 1))),
          endings(this->path) {
        // A period of 0 would never sleep.
        options.retryMs = std::max(options.retryMs, 10);
        options.idleLookMs = std::max(options.idleLookMs, 10);
    }

    QString path;
    FailureHandler onFailure;
    Options options;

    std::mutex mutex;                      // guards everything below up to `failed`
    std::condition_variable work;          // the thread waits here for work
    std::condition_variable done;          // flush and close() wait here for progress
    writer::PollBacklog polls;             // polls are kept apart so the oldest can be dropped
    std::deque<writer::OtherItem> others;  // tests, state changes, records
    std::deque<writer::ReleaseItem> releases;
    std::map<QString, QString> names;  // each test handed, as the operator knows it
    std::set<QString> recovered;       // tests taken up from the archive, in it from the start
    std::map<QString, int> lost;       // records never to be written (a permanent failure)
    quint64 nextSeq = 1;               // the order of the calls, across the queues
    quint64 inFlight = kNone;          // the lowest number being written now
    std::optional<writer::OtherItem>
        underWay;  // the test, state change or record being written now
    int flushWaiters = 0;
    bool retryNow = false;   // a record or state change came since the last try
    bool trying = false;     // the archive is being opened
    bool connected = false;  // the writer has the archive open
    bool releasing = false;  // locks taken from `releases` are being let go
    bool stopping = false;
    bool lastTry = false;    // the archive failed at the end and was tried once more
    bool permanent = false;  // the archive can never be used by this program
    writer::Clock::time_point stopDeadline;
    bool finished = false;
    std::atomic<bool> failed{false};

    std::mutex handlerMutex;  // a handler runs under it; the owner leaving takes it too
    bool abandoned = false;

    // The thread's own, untouched by the callers.
    writer::WriterConnection connection;
    writer::RewriteLog log;
    writer::OwnEndings endings;
    bool reported = false;                      // the failure has been told and not yet its end
    writer::Clock::time_point nextTry;          // while there is no connection
    writer::Clock::time_point lastEndingsLook;  // while there is one
    bool workedSinceLook = false;

    quint64 lowestPending() const {
        quint64 low = inFlight;
        if (!polls.empty()) low = std::min(low, polls.front().seq);
        if (!others.empty()) low = std::min(low, others.front().seq);
        return low;
    }

    bool hasWork(writer::Clock::time_point now) const {
        if (!others.empty() || (stopping && !polls.empty())) return true;
        if (polls.empty()) return false;
        // After a failure everything kept is written at once, the polls too.
        return reported || flushWaiters > 0 || polls.size() >= size_t(options.pollBatch) ||
               now >= polls.front().handedAt + std::chrono::milliseconds(options.pollWaitMs);
    }

    // With the queue's lock: what an archive that can never be used would keep is counted
    // (the records) or let go of (polls, state changes, locks).
    void forget(writer::OtherItem& item) {
        if (item.kind == writer::OtherItem::Kind::Record) ++lost[item.uid];
    }

    void push(writer::OtherItem item) {
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
        nextTry = writer::Clock::now() + std::chrono::milliseconds(options.retryMs);
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
        const auto add = [&](const writer::OtherItem& item) {
            if (item.kind == writer::OtherItem::Kind::State &&
                (all || log.holds(item.uid) || recovered.count(item.uid) != 0))
                states[item.uid].push_back({item.state, item.atMs});
        };
        // A change under way came before all that waits; a stalled write may never end.
        if (underWay) add(*underWay);
        for (const writer::OtherItem& item : others) add(item);
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
    void leaveAhead(const writer::OtherItem& item, std::unique_lock<std::mutex>& lock) {
        if (finished || item.kind != writer::OtherItem::Kind::State ||
            !writer::IsEnding(item.state) ||
            !(log.holds(item.uid) || recovered.count(item.uid) != 0))
            return;
        std::vector<StateChange> changes{{item.state, item.atMs}};
        for (const writer::OtherItem& later : others)
            if (later.kind == writer::OtherItem::Kind::State && later.uid == item.uid)
                changes.push_back({later.state, later.atMs});
        lock.unlock();
        endings.leaveAhead(item.uid, changes);
        lock.lock();
    }

    void run();
    bool connect();
    void forgetAll(std::unique_lock<std::mutex>& lock);
    void write(std::vector<writer::PollItem>& batch, std::optional<writer::OtherItem>& other);
    std::vector<writer::ReleaseItem> dueReleases();
};

}  // namespace archive
