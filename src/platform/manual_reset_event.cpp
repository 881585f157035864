#include "platform/manual_reset_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>

ManualResetEvent::ManualResetEvent(bool initiallySet)
    : m_set(initiallySet), m_fd(eventfd(initiallySet ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ManualResetEvent::~ManualResetEvent() {
    if (m_fd >= 0) ::close(m_fd);
}

// The descriptor's counter mirrors m_set: 1 while set, 0 otherwise. Both change together
// under the mutex.
void ManualResetEvent::set() {
    {
        std::lock_guard lock(m_mutex);
        if (m_set) return;
        m_set = true;
        if (m_fd >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(m_fd, &one, sizeof one);
        }
    }
    m_cv.notify_all();
}

void ManualResetEvent::reset() {
    std::lock_guard lock(m_mutex);
    if (!m_set) return;
    m_set = false;
    if (m_fd >= 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(m_fd, &count, sizeof count);
    }
}

bool ManualResetEvent::isSet() const {
    std::lock_guard lock(m_mutex);
    return m_set;
}

bool ManualResetEvent::wait_for(int ms) const {
    std::unique_lock lock(m_mutex);
    if (ms <= 0) return m_set;
    return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_set; });
}

void ManualResetEvent::wait() const {
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return m_set; });
}

int WaitForAny(std::initializer_list<const ManualResetEvent*> events, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    constexpr std::size_t kMax = 8;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        std::array<pollfd, kMax> fds{};
        nfds_t count = 0;
        bool everyFd = true;
        int index = 0;
        for (const ManualResetEvent* event : events) {
            if (event != nullptr) {
                if (event->isSet()) return index;
                if (event->fd() < 0 || count == kMax)
                    everyFd = false;
                else
                    fds[count++] = {event->fd(), POLLIN, 0};
            }
            ++index;
        }
        int waitMs = -1;
        if (timeoutMs >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0) return -1;
            // Rounded up, so that the wait never ends just before its time.
            waitMs = static_cast<int>(left) + 1;
        }
        // An event without a descriptor is looked at again every few milliseconds.
        if (!everyFd && (waitMs < 0 || waitMs > 5)) waitMs = 5;
        if (::poll(fds.data(), count, waitMs) < 0 && errno != EINTR) return -1;
    }
}
