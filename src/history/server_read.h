#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "server/pg_connection.h"

// One read of the lab server at a time, on a worker thread of its own: the GUI thread never
// waits for the server. The work gets a fresh connection; when it is over `done` runs on the
// GUI thread with the error for the operator (empty when all went well). cancel() (or a new
// start, or the object's end) gives the read up at once: the worker's wait for the server
// ends, the server is asked to stop the statement (PgConnection's cancel, which never holds
// the worker) and the worker ends; its outcome is dropped. Waits are bounded by the options'
// time limits, so a server that never answers holds no thread for long.
class ServerRead : public QObject {
    Q_OBJECT

  public:
    using Work = std::function<void(server::PgConnection&)>;
    using Done = std::function<void(const QString& error)>;

    explicit ServerRead(QObject* parent = nullptr);
    ~ServerRead() override;

    // `options` are read on the worker (the settings beside the archive may sit on a slow disk).
    void start(std::function<server::PgConnection::Options()> options, Work work, Done done);
    void cancel();
    bool busy() const { return m_job != nullptr; }

  signals:
    void busyChanged(bool busy);

  private:
    struct Job;
    std::shared_ptr<Job> m_job;
    Done m_done;

    bool abandon();  // true when a read was under way
    void finish(const std::shared_ptr<Job>& job, const QString& error);
};

// "无法读取实验室服务器：服务器没有运行" and the like, for the operator.
QString ServerReadFailure(const QString& cause);
