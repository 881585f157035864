#pragma once

#include <thread>

// Keeps a test's bound name answering. Every program that checks the test connects to the
// name to learn who holds it; a connection that is never accepted stays in the socket's queue,
// and once the queue is full the test can no longer be asked about. A small thread accepts
// each connection and closes it at once.
namespace archive {

class LockNameHolder {
  public:
    // Takes the listening socket `fd` (bound, listening) and answers on it until destroyed.
    explicit LockNameHolder(int fd);
    // Stops the thread and closes the socket.
    ~LockNameHolder();
    LockNameHolder(const LockNameHolder&) = delete;
    LockNameHolder& operator=(const LockNameHolder&) = delete;

  private:
    void run();
    int m_fd;
    int m_wake = -1;  // an eventfd that ends the thread; -1 when there is no thread
    std::thread m_thread;
};

}  // namespace archive
