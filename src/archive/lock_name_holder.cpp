#include "archive/lock_name_holder.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QtGlobal>
#include <cerrno>
#include <system_error>

#include "platform/thread_name.h"

namespace archive {

LockNameHolder::LockNameHolder(int fd) : m_fd(fd) {
    // Without a thread the name still holds the test; only a long run of checks could fill
    // its queue.
    if (::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK) != 0) return;
    m_wake = ::eventfd(0, EFD_CLOEXEC);
    if (m_wake < 0) {
        qWarning("archive: a test name answers no checks: eventfd failed (%d)", errno);
        return;
    }
    try {
        m_thread = std::thread([this] {
            NameThisThread("kivo-test-lock");
            run();
        });
    } catch (const std::system_error& error) {
        qWarning("archive: a test name answers no checks: %s", error.what());
        ::close(m_wake);
        m_wake = -1;
    }
}

LockNameHolder::~LockNameHolder() {
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        while (::write(m_wake, &one, sizeof one) < 0 && errno == EINTR) {
        }
        m_thread.join();
    }
    if (m_wake >= 0) ::close(m_wake);
    ::close(m_fd);
}

void LockNameHolder::run() {
    for (;;) {
        pollfd fds[2] = {{m_wake, POLLIN, 0}, {m_fd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents != 0) return;
        for (;;) {
            const int connection = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection >= 0) {
                ::close(connection);
                continue;
            }
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;  // the queue is empty
            // Out of file descriptors, or any other failure (a socket in error, which poll
            // reports at once): the next try waits, so this thread never spins meanwhile; a
            // check waits in the queue until one is free.
            pollfd wake{m_wake, POLLIN, 0};
            if (::poll(&wake, 1, 200) > 0) return;
            break;
        }
    }
}

}  // namespace archive
