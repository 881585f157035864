#include "lab/connection_pool.h"

#include <chrono>

namespace lab {

ConnectionPool::ConnectionPool(server::PgConnection::Options options, size_t max)
    : m_options(std::move(options)), m_max(max) {}

void ConnectionPool::with(const std::function<void(server::PgConnection&)>& work, int waitMs) {
    std::unique_ptr<server::PgConnection> conn;
    {
        std::unique_lock lock(m_mutex);
        if (!m_freed.wait_for(lock, std::chrono::milliseconds(waitMs),
                              [&] { return !m_idle.empty() || m_busy < m_max; }))
            throw server::PgError(server::PgError::Kind::Unreachable,
                                  QStringLiteral("数据库连接全部繁忙"));
        if (!m_idle.empty()) {
            conn = std::move(m_idle.back());
            m_idle.pop_back();
        }
        ++m_busy;
    }
    // Given back (or dropped when it was lost) however the work ends.
    struct Return {
        ConnectionPool& pool;
        std::unique_ptr<server::PgConnection>& conn;
        ~Return() {
            std::lock_guard lock(pool.m_mutex);
            --pool.m_busy;
            if (conn && conn->ok()) pool.m_idle.push_back(std::move(conn));
            pool.m_freed.notify_one();
        }
    } giveBack{*this, conn};
    if (!conn) conn = std::make_unique<server::PgConnection>(m_options);
    work(*conn);
}

}  // namespace lab
