#include "history/server_read.h"

#include <mutex>
#include <thread>

struct ServerRead::Job {
    std::mutex mutex;
    bool abandoned = false;         // the outcome is no longer wanted
    server::PgInterrupt interrupt;  // ends the worker's wait for the server at once
};

QString ServerReadFailure(const QString& cause) {
    return QStringLiteral("无法读取实验室服务器：%1").arg(cause);
}

ServerRead::ServerRead(QObject* parent) : QObject(parent) {}

// The worker may still wait for the server: it finds out it is alone and ends by itself.
ServerRead::~ServerRead() { abandon(); }

void ServerRead::start(std::function<server::PgConnection::Options()> options, Work work,
                       Done done) {
    abandon();
    auto job = std::make_shared<Job>();
    m_job = job;
    m_done = std::move(done);
    std::thread([this, job, options = std::move(options), work = std::move(work)] {
        QString error;
        try {
            server::PgConnection::Options o = options();
            o.interrupt = &job->interrupt;
            server::PgConnection db(o);
            work(db);
        } catch (const server::PgError& e) {
            error = e.message;
        } catch (const std::exception& e) {
            error = QString::fromLocal8Bit(e.what());
        }
        // Under the lock: the object cannot go away while the outcome is posted to it, and
        // once it has gone the posted call goes with it.
        std::lock_guard lock(job->mutex);
        if (job->abandoned) return;
        QMetaObject::invokeMethod(
            this, [this, job, error] { finish(job, error); }, Qt::QueuedConnection);
    }).detach();
    emit busyChanged(true);
}

void ServerRead::cancel() {
    if (abandon()) emit busyChanged(false);
}

bool ServerRead::abandon() {
    if (!m_job) return false;
    std::shared_ptr<Job> job = std::move(m_job);
    m_job.reset();
    m_done = nullptr;
    {
        std::lock_guard lock(job->mutex);
        job->abandoned = true;
    }
    // The worker's wait ends now: it asks the server to stop the statement, without waiting
    // for an answer, and ends.
    job->interrupt.trigger();
    return true;
}

void ServerRead::finish(const std::shared_ptr<Job>& job, const QString& error) {
    if (job != m_job) return;
    m_job.reset();
    Done done = std::move(m_done);
    m_done = nullptr;
    emit busyChanged(false);
    if (done) done(error);
}
