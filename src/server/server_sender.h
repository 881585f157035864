#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <thread>

#include "server/server_settings.h"

// Forwards the local archive to the lab server. A thread of its own reads what is new in the
// archive (any copy of the program on this archive may have written it), sends it in small
// batches that the server stores once however often they arrive, and marks in the archive how
// far each test has been sent, so that it goes on where it stopped after a restart, a crash or
// a recovered test. It wakes when told that something was committed, and looks by itself once
// a second. The marks are not the proof: after each connect and every reconcileMs the server's
// own account of every settled test is compared with the archive's, and what the server lacks
// is sent again (server_reconcile.h). A server that is down, slow or refusing costs only this
// thread: it tries again after a growing pause. Nothing here waits for the server on the
// caller's thread.
namespace server {

class ServerSender {
  public:
    enum class State {
        Off,          // no server configured
        Pending,      // rows wait to be sent (the count says how many)
        Synced,       // everything is on the server
        Unreachable,  // no connection; the cause says why
        Refused,      // the server refuses (newer schema, privileges); the cause says why
    };
    struct Status {
        State state = State::Off;
        qint64 pending = 0;
        qint64 conflicts = 0;  // rows the server keeps apart: it held their key otherwise
        QString cause;
        // "实验室服务器：已同步" / "实验室服务器：待上传 N 条" / "实验室服务器：无法连接（cause）";
        // with conflicts "实验室服务器：N 条数据与服务器不一致" (after 待上传 N 条 while rows
        // wait); empty when no server is configured.
        QString text() const;
        bool operator==(const Status&) const = default;
    };
    using StatusHandler = std::function<void(const Status&)>;

    struct Options {
        std::function<ServerSettings()> settings;  // read again while idle; ReadServerSettings
        int idleCheckMs = 1000;  // looks at the archive this often without being woken
        int minRetryMs = 500;    // the first pause after a failure ...
        int maxRetryMs = 15000;  // ... doubling up to this
        int pollBatch = 1000;    // polls per INSERT
        int statementTimeoutMs = 30000;
        int connectTimeoutSeconds = 5;
        // How often the settled tests are checked against the server's account of them
        // (besides after each connect).
        int reconcileMs = 10 * 60 * 1000;
        Options();
    };

    // Starts the thread. `onStatus` is called on the sender's thread whenever the status
    // changes (post it to the GUI thread; it must not wait for the owner of the sender).
    ServerSender(QString archivePath, StatusHandler onStatus, Options options = Options());
    // Stops at once, a connection or a statement under way included.
    ~ServerSender();
    ServerSender(const ServerSender&) = delete;
    ServerSender& operator=(const ServerSender&) = delete;

    // Something was committed to the archive: look now. Any thread, returns at once.
    void wake();
    // wake() as a function that stays safe to call after the sender is gone.
    std::function<void()> waker() const;
    // The settings changed: connect again with the new ones.
    void reconfigure();

    Status status() const;

    // At exit: looks at the archive once more now and waits up to `ms` for what is waiting to
    // reach the server. Returns the status then; its pending rows go at the next start.
    Status lastAttempt(int ms);

    struct Shared;

  private:
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

}  // namespace server
