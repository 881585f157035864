#include "link/link_threads.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace LinkThreads {
namespace {

struct Entry {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
};

std::mutex g_mutex;
std::vector<Entry> g_threads;

}  // namespace

bool start(std::function<void()> fn) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    try {
        std::thread thread([fn = std::move(fn), done] {
            fn();
            done->store(true);
        });
        std::lock_guard lock(g_mutex);
        g_threads.push_back(Entry{std::move(thread), done});
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void joinFinished() {
    std::vector<Entry> finished;
    {
        std::lock_guard lock(g_mutex);
        for (auto it = g_threads.begin(); it != g_threads.end();) {
            if (it->done->load()) {
                finished.push_back(std::move(*it));
                it = g_threads.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& entry : finished) entry.thread.join();
}

void joinAll() {
    std::vector<Entry> all;
    {
        std::lock_guard lock(g_mutex);
        all.swap(g_threads);
    }
    for (auto& entry : all) entry.thread.join();
}

int count() {
    std::lock_guard lock(g_mutex);
    return static_cast<int>(g_threads.size());
}

}  // namespace LinkThreads
