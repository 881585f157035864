#include "server/server_sender.h"

#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "archive/archive_open.h"
#include "archive/archive_schema.h"
#include "platform/thread_name.h"
#include "server/archive_outbox.h"
#include "server/bench_uid.h"
#include "server/server_reconcile.h"
#include "server/server_schema.h"
#include "server/server_upload.h"

namespace server {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// Tests looked at in one round; the rest come in the next.
constexpr int kTestsPerRound = 100;
constexpr int kAuditPerRound = 500;

}  // namespace

QString ServerSender::Status::text() const {
    switch (state) {
        case State::Off:
            return {};
        case State::Synced:
            if (conflicts > 0)
                return QStringLiteral("实验室服务器：%1 条数据与服务器不一致").arg(conflicts);
            return QStringLiteral("实验室服务器：已同步");
        case State::Pending:
            if (conflicts > 0)
                return QStringLiteral("实验室服务器：待上传 %1 条，%2 条数据与服务器不一致")
                    .arg(pending)
                    .arg(conflicts);
            return QStringLiteral("实验室服务器：待上传 %1 条").arg(pending);
        case State::Unreachable:
        case State::Refused:
            return QStringLiteral("实验室服务器：无法连接（%1）").arg(cause);
    }
    return {};
}

ServerSender::Options::Options() : settings(&ReadServerSettings) {}

struct ServerSender::Shared {
    QString archivePath;
    StatusHandler onStatus;
    Options options;
    PgInterrupt interrupt;  // ends a wait for the server when the sender stops

    mutable std::mutex mutex;
    std::condition_variable wakeup;
    bool woken = false;
    bool reconfigured = false;
    bool stopping = false;
    bool finished = false;  // the thread has left its loop
    std::condition_variable ended;
    Status status;
    // Last attempts asked for, the number of them a round saw when it began, and the number
    // the last round that ended (sent or failed) had seen.
    quint64 asked = 0, seenByRound = 0, answered = 0;
    std::condition_variable roundEnded;

    void beginRound() {
        std::lock_guard lock(mutex);
        seenByRound = asked;
    }
    void publish(const Status& next) {
        {
            std::lock_guard lock(mutex);
            answered = seenByRound;
            roundEnded.notify_all();
            if (stopping || status == next) return;
            status = next;
        }
        if (onStatus) onStatus(next);
    }
    // Waits `ms` or until stopped; `woken` ends the wait early when `byWake`.
    // False when stopping.
    bool pause(int ms, bool byWake) {
        std::unique_lock lock(mutex);
        wakeup.wait_for(lock, milliseconds(ms),
                        [&] { return stopping || reconfigured || (byWake && woken); });
        if (byWake) woken = false;
        return !stopping;
    }
    bool stopped() const {
        std::lock_guard lock(mutex);
        return stopping;
    }
};

namespace {

// Which file the path names now: a damaged archive renamed aside by the writer is followed by
// a new one under the same name, and the sender must go over to that.
std::pair<dev_t, ino_t> FileIdentity(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return {};
    return {info.st_dev, info.st_ino};
}

// The archive on a connection of the sender's own; null while it is not there yet or not yet
// brought to the version that keeps the marks (the program's writer does that).
std::unique_ptr<archive::Connection> OpenLocal(const QString& path) {
    if (!QFileInfo::exists(path)) return nullptr;
    auto db = std::make_unique<archive::Connection>(path, SQLITE_OPEN_READWRITE);
    archive::ConfigureConnection(*db, archive::kBusyTimeoutMs);
    if (archive::ArchiveVersion(*db) != archive::kArchiveVersion) return nullptr;
    return db;
}

// Batches of polls a test sends in one round at most (a six-hour test's are fewer).
constexpr int kPollBatchesPerRound = 20;

// One round: each test with something to send in one server transaction of its own, the
// header first and the state changes last, so the server never shows a state without the
// records and polls taken before it; the marks follow the commit. Then the audit events. True
// when more is waiting at once. What the server refused (after the others were sent) is left
// in `refusal`; a failed connection throws PgError.
//
// A test whose rows the server refuses for want of what they belong to (its header is not on
// a server restored from an older dump, so the foreign key or the row policy fails) is
// compared with the server's account of it and what the server lacks is marked to be sent
// again, header first, in the next round; the other tests go meanwhile.
bool SendRound(ArchiveOutbox& outbox, archive::Connection& local, PgConnection& db,
               ServerUpload& upload, Reconciler& reconciler, int pollBatch, qint64& auditAfter,
               std::optional<PgError>& refusal) {
    const std::vector<OutboxTest> tests = outbox.unsettledTests(kTestsPerRound);
    bool more = tests.size() == size_t(kTestsPerRound);
    std::optional<PgError> refused;
    std::vector<std::pair<OutboxTest, PgError>> lacking;
    for (const OutboxTest& t : tests) {
        std::optional<archive::TestHeader> header;
        if (!t.headerSent) {
            header = outbox.header(t.id);
            if (header->uid.isEmpty()) continue;  // deleted from the archive meanwhile
        }
        // The states are read before the records and polls: every record and poll taken
        // before a state is then among those read.
        auto states = outbox.statesAfter(t.id, t.statesSent);
        const auto records = outbox.unsentRecords(t.id);
        const int pollLimit = pollBatch * kPollBatchesPerRound;
        const auto polls = outbox.pollsAfter(t.id, t.pollsSent, pollLimit);
        const bool allPolls = polls.size() < size_t(pollLimit);
        if (!allPolls) {
            states.clear();  // they follow the polls still waiting
            more = true;
        }
        if (header || !states.empty() || !records.empty() || !polls.empty()) {
            try {
                const StartLabels startedOn = header ? outbox.startedOn(t.uid) : StartLabels{};
                if (header) upload.prepareBench(*header, startedOn);
                PgTransaction transaction(db);
                if (header) upload.sendTest(*header, startedOn);
                upload.sendRecords(t.uid, records);
                for (size_t first = 0; first < polls.size(); first += size_t(pollBatch)) {
                    const size_t end = std::min(polls.size(), first + size_t(pollBatch));
                    upload.sendPolls(
                        t.uid, std::vector<OutboxPoll>(polls.begin() + first, polls.begin() + end));
                }
                upload.sendStates(t.uid, t.statesSent + 1, states);
                transaction.commit();
            } catch (const PgError& e) {
                // A test the server refuses does not hold up the others; the refusal is told
                // once the round is over.
                if (e.kind != PgError::Kind::Refused || !db.ok()) throw;
                if (e.sqlState == "23503" || e.sqlState == "42501")
                    lacking.emplace_back(t, e);
                else if (!refused)
                    refused = e;
                continue;
            }
            outbox.markSent(t.id, header.has_value(),
                            states.empty() ? 0 : t.statesSent + int(states.size()), records,
                            polls.empty() ? 0 : polls.back().seq);
        }
        if (allPolls) outbox.settle(t.id);
    }
    for (const auto& [t, e] : lacking) {
        if (reconciler.recheck(outbox, local, db, t))
            more = true;
        else if (!refused)
            refused = e;
    }
    // The events go from where the last round's batch ended: refused ones stay unsent behind
    // it, so however many there are they never fill every batch and hold up the others. Past
    // the last event the next round starts from the first again, and tries the refused ones.
    const auto audit = outbox.unsentAudit(kAuditPerRound, auditAfter);
    if (!audit.empty()) {
        std::optional<PgError> auditRefused;
        const auto sent = upload.sendAudit(audit, auditRefused);
        outbox.markAudit(sent);
        const bool full = audit.size() == size_t(kAuditPerRound);
        auditAfter = full ? audit.back().id : 0;
        // A full batch means more are waiting: the next batch follows at once.
        more = more || full;
        if (auditRefused && !refused) refused = auditRefused;
    } else {
        auditAfter = 0;
    }
    refusal = refused;
    return more;
}

// The rows this bench sent that the server keeps as conflicts because it held their key with
// other content: rows of its tests, and its audit events (one role may send for several benches).
qint64 ConflictCount(PgConnection& db, const QString& benchUid) {
    return db
        .exec(
            "SELECT count(*) FROM conflicts c WHERE c.sent_by = session_user AND "
            "(c.table_name <> 'audit_events' AND EXISTS (SELECT 1 FROM tests t "
            "JOIN benches b ON b.id = t.bench_id WHERE t.uid = c.test_uid AND b.bench_uid = $1) OR "
            "(c.table_name = 'audit_events' AND EXISTS (SELECT 1 FROM audit_events e "
            "JOIN benches b ON b.id = e.bench_id WHERE e.uid = c.row_key AND b.bench_uid = $1)))",
            PgParams().add(benchUid))
        .integer(0, 0);
}

void Run(const std::shared_ptr<ServerSender::Shared>& shared) {
    using State = ServerSender::State;
    const ServerSender::Options& options = shared->options;
    std::unique_ptr<archive::Connection> local;
    std::pair<dev_t, ino_t> localIdentity;
    std::unique_ptr<PgConnection> pg;
    std::unique_ptr<ServerUpload> upload;
    ServerSettings settings;
    Clock::time_point settingsReadAt;
    int retryMs = options.minRetryMs;
    const QString host = QSysInfo::machineHostName();
    QString benchUid;
    Reconciler reconciler;
    qint64 auditAfter = 0;  // where the next round's audit events start (see SendRound)
    bool reconcileDue = true;
    Clock::time_point reconciledAt;
    qint64 conflicts = 0;
    qint64 lastPending = -1;

    auto failed = [&](State state, const QString& cause, int pauseMs) {
        upload.reset();
        pg.reset();
        ServerSender::Status s;
        s.state = state;
        s.cause = cause;
        {
            std::lock_guard lock(shared->mutex);
            s.pending = shared->status.pending;
            s.conflicts = shared->status.conflicts;
        }
        shared->publish(s);
        return shared->pause(pauseMs, false);
    };

    // After a refusal on a sound session: the bench ids are asked for again (a server restored
    // in place may lack their rows); the next round comes at once when more waits, else after
    // a growing pause or at the next thing to send. False when stopping.
    auto afterRefusal = [&](bool more) {
        upload = std::make_unique<ServerUpload>(*pg, benchUid, host);
        if (more) return true;
        const bool going = shared->pause(retryMs, true);
        retryMs = std::min(retryMs * 2, options.maxRetryMs);
        return going;
    };

    while (!shared->stopped()) {
        shared->beginRound();
        // The settings, read again now and then while idle and whenever told they changed.
        bool changed = false;
        {
            std::lock_guard lock(shared->mutex);
            changed = shared->reconfigured;
            shared->reconfigured = false;
        }
        if (changed || settingsReadAt == Clock::time_point() ||
            Clock::now() - settingsReadAt > milliseconds(5 * options.idleCheckMs)) {
            const ServerSettings next = options.settings();
            settingsReadAt = Clock::now();
            if (!(next == settings) || changed) {
                settings = next;
                upload.reset();
                pg.reset();
                retryMs = options.minRetryMs;
            }
        }
        if (!settings.configured()) {
            shared->publish({});
            if (!shared->pause(options.idleCheckMs, false)) break;
            continue;
        }
        try {
            if (local && FileIdentity(shared->archivePath) != localIdentity) local.reset();
            if (!local) {
                localIdentity = FileIdentity(shared->archivePath);
                local = OpenLocal(shared->archivePath);
                // A connection made afresh checks whose marks the archive holds.
                upload.reset();
                pg.reset();
                reconciler.forget();
            }
            if (!local) {
                if (!shared->pause(options.idleCheckMs, true)) break;
                continue;
            }
            ArchiveOutbox outbox(*local);
            if (benchUid.isEmpty()) benchUid = BenchUid(shared->archivePath);
            if (benchUid.isEmpty()) {
                ServerSender::Status s;
                s.state = State::Refused;
                s.cause = QStringLiteral("无法在测试档案旁保存本实验台的标识");
                s.pending = outbox.pendingCount();
                shared->publish(s);
                if (!shared->pause(options.maxRetryMs, false)) break;
                continue;
            }
            if (!pg) {
                PgConnection::Options o = settings.connectOptions(options.connectTimeoutSeconds);
                o.statementTimeoutMs = options.statementTimeoutMs;
                o.interrupt = &shared->interrupt;
                pg = std::make_unique<PgConnection>(o);
                PrepareServerSchema(*pg);
                outbox.markFor(ServerIdentity(*pg));
                upload = std::make_unique<ServerUpload>(*pg, benchUid, host);
                reconcileDue = true;
            }
            // After each connect and now and then: the server's own account of every settled
            // test, and what it lacks sent again.
            if (reconcileDue || Clock::now() - reconciledAt > milliseconds(options.reconcileMs)) {
                reconciler.run(outbox, *local, *pg, benchUid);
                reconciledAt = Clock::now();
                reconcileDue = false;
                lastPending = -1;
            }
            std::optional<PgError> refusal;
            const bool more = SendRound(outbox, *local, *pg, *upload, reconciler,
                                        options.pollBatch, auditAfter, refusal);
            const qint64 pending = outbox.pendingCount();
            if (pending != lastPending || refusal) conflicts = ConflictCount(*pg, benchUid);
            lastPending = pending;
            ServerSender::Status s;
            s.state = refusal ? State::Refused : pending == 0 ? State::Synced : State::Pending;
            s.cause = refusal ? refusal->message : QString();
            s.pending = pending;
            s.conflicts = conflicts;
            shared->publish(s);
            if (refusal) {
                // The session stays: reconnecting would only check every settled test again
                // and be refused the same.
                if (!afterRefusal(more)) break;
                continue;
            }
            retryMs = options.minRetryMs;
            if (more) continue;
            if (!shared->pause(options.idleCheckMs, true)) break;
        } catch (const PgError& e) {
            if (e.kind == PgError::Kind::Cancelled) break;
            // A statement the server refused while the session stays sound (the check of
            // the settled tests, say): kept as a refused round is.
            if (e.kind == PgError::Kind::Refused && upload && pg && pg->idle()) {
                ServerSender::Status s;
                s.state = State::Refused;
                s.cause = e.message;
                s.conflicts = conflicts;
                try {
                    if (local) s.pending = ArchiveOutbox(*local).pendingCount();
                } catch (const archive::SqlError&) {
                    local.reset();
                }
                shared->publish(s);
                if (!afterRefusal(false)) break;
                continue;
            }
            // The pending count stays as it was last seen; the cause is what the server said.
            const State state =
                e.kind == PgError::Kind::Unreachable || e.kind == PgError::Kind::Authentication
                    ? State::Unreachable
                    : State::Refused;
            if (!failed(state, e.message, retryMs)) break;
            retryMs = std::min(retryMs * 2, options.maxRetryMs);
        } catch (const archive::SqlError&) {
            // The archive is busy or gone for now: a new connection next time.
            local.reset();
            if (!shared->pause(options.idleCheckMs, false)) break;
        }
    }
}

}  // namespace

ServerSender::ServerSender(QString archivePath, StatusHandler onStatus, Options options)
    : m_shared(std::make_shared<Shared>()) {
    m_shared->archivePath = std::move(archivePath);
    m_shared->onStatus = std::move(onStatus);
    m_shared->options = std::move(options);
    m_thread = std::thread([shared = m_shared] {
        NameThisThread("kivo-server");
        Run(shared);
        std::lock_guard lock(shared->mutex);
        shared->finished = true;
        shared->ended.notify_all();
    });
}

ServerSender::~ServerSender() {
    std::unique_lock lock(m_shared->mutex);
    m_shared->stopping = true;
    m_shared->wakeup.notify_all();
    m_shared->interrupt.trigger();
    // Every wait of the thread ends at once now, but for a host name being looked up (the
    // resolver cannot be interrupted) or a busy archive: such a thread is left to end by
    // itself; it shares nothing with the owner but `m_shared`, and tells no one any more.
    const bool ended =
        m_shared->ended.wait_for(lock, std::chrono::seconds(3), [&] { return m_shared->finished; });
    lock.unlock();
    if (ended)
        m_thread.join();
    else
        m_thread.detach();
}

void ServerSender::wake() {
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->woken = true;
    }
    m_shared->wakeup.notify_all();
}

std::function<void()> ServerSender::waker() const {
    std::weak_ptr<Shared> weak = m_shared;
    return [weak] {
        if (auto shared = weak.lock()) {
            {
                std::lock_guard lock(shared->mutex);
                shared->woken = true;
            }
            shared->wakeup.notify_all();
        }
    };
}

void ServerSender::reconfigure() {
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->reconfigured = true;
    }
    m_shared->wakeup.notify_all();
}

ServerSender::Status ServerSender::status() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->status;
}

ServerSender::Status ServerSender::lastAttempt(int ms) {
    std::unique_lock lock(m_shared->mutex);
    const quint64 ask = ++m_shared->asked;
    m_shared->woken = true;
    m_shared->wakeup.notify_all();
    // A round that began before now may not have seen the newest rows: one begun after has.
    m_shared->roundEnded.wait_for(lock, milliseconds(ms), [&] {
        return m_shared->finished ||
               (m_shared->answered >= ask && m_shared->status.state != State::Pending);
    });
    return m_shared->status;
}

}  // namespace server
