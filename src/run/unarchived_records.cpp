#include "run/unarchived_records.h"

#include <map>
#include <mutex>
#include <set>

namespace UnarchivedRecords {
namespace {

std::mutex g_mutex;
std::map<QString, std::set<int>> g_waiting;  // by test, the numbers not committed yet

}  // namespace

void handed(const QString& uid, int number) {
    std::lock_guard lock(g_mutex);
    g_waiting[uid].insert(number);
}

void committed(const QString& uid, int number) {
    std::lock_guard lock(g_mutex);
    const auto test = g_waiting.find(uid);
    if (test == g_waiting.end()) return;
    test->second.erase(number);
    if (test->second.empty()) g_waiting.erase(test);
}

int count(const QString& uid) {
    std::lock_guard lock(g_mutex);
    const auto test = g_waiting.find(uid);
    return test == g_waiting.end() ? 0 : int(test->second.size());
}

void forget(const QString& uid) {
    std::lock_guard lock(g_mutex);
    g_waiting.erase(uid);
}

}  // namespace UnarchivedRecords
