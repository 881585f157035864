#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "server/pg_connection.h"

// The service's connections to the lab database, shared by the request threads: a few kept
// open, made when needed, a lost one dropped. Each request takes one for its work alone.
namespace lab {

class ConnectionPool {
  public:
    ConnectionPool(server::PgConnection::Options options, size_t max);

    // Runs `work` with a connection of the pool; throws server::PgError when none can be had
    // (the server is down, or every connection stays busy for `waitMs`) or the work fails.
    void with(const std::function<void(server::PgConnection&)>& work, int waitMs = 10000);

  private:
    server::PgConnection::Options m_options;
    size_t m_max;
    std::mutex m_mutex;
    std::condition_variable m_freed;
    std::vector<std::unique_ptr<server::PgConnection>> m_idle;
    size_t m_busy = 0;
};

}  // namespace lab
