#include <QtGlobal>

#include "archive/writer_shared.h"

// The writer's thread: the order of its work, and what it does when the archive fails. Each
// failure path has its own file: connecting and a damaged file (writer_connection), writing the
// tests under way anew (rewrite_log), the endings beside the archive (writer_endings), the polls
// waiting (poll_backlog).
namespace archive {

using namespace writer;
using std::chrono::milliseconds;

namespace {

// The most polls one transaction takes from the queue (after a stall, many may wait).
constexpr size_t kMostPollsAtOnce = 500;

}  // namespace

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
        lastEndingsLook = Clock::now();
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
            // Endings other programs left since are written: a retry period after the last
            // look once the writer has worked since, otherwise at the idle tick (an idle
            // program's only wake-up of its own).
            const Clock::time_point lookAt =
                lastEndingsLook + milliseconds(workedSinceLook
                                                   ? std::min(options.retryMs, options.idleLookMs)
                                                   : options.idleLookMs);
            if (now >= lookAt) {
                lock.unlock();
                try {
                    TakeUpEndings(path, connection.writes());
                    lastEndingsLook = Clock::now();
                    workedSinceLook = false;
                } catch (const SqlError& error) {
                    fail(connection.failed(error));
                }
                lock.lock();
                connected = connection.isOpen();
                done.notify_all();
                continue;
            }
            Clock::time_point until = lookAt;
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
            workedSinceLook = true;
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

}  // namespace archive
