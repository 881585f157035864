#include "archive/writer_endings.h"

#include <memory>

#include "archive/test_endings.h"
#include "archive/test_lock.h"

namespace archive::writer {

bool IsEnding(TestState state) {
    switch (state) {
        case TestState::FinishedByMinutes:
        case TestState::FinishedByInstrument:
        case TestState::Closed:
        case TestState::Interrupted:
            return true;
        case TestState::Running:
        case TestState::Paused:
        case TestState::CommFailure:
            return false;
    }
    return false;
}

QStringList OwnEndings::update(const std::map<QString, std::vector<StateChange>>& unwritten) {
    QStringList newlyLost;
    for (const auto& [uid, changes] : unwritten) {
        bool ends = false;
        for (const StateChange& change : changes) ends = ends || IsEnding(change.state);
        if (!ends) continue;
        const auto left = m_left.find(uid);
        if (left != m_left.end() && left->second == changes) continue;
        if (TestEndings::leave(m_path, uid, changes)) {
            m_left[uid] = changes;
            m_lost.erase(uid);
        } else if (m_lost.emplace(uid, true).second) {
            newlyLost << uid;
        }
    }
    // All of a test's changes are in the archive: its file goes.
    for (auto it = m_left.begin(); it != m_left.end();) {
        if (unwritten.count(it->first) != 0) {
            ++it;
            continue;
        }
        TestEndings::remove(m_path, it->first);
        it = m_left.erase(it);
    }
    for (auto it = m_lost.begin(); it != m_lost.end();)
        it = unwritten.count(it->first) != 0 ? std::next(it) : m_lost.erase(it);
    return newlyLost;
}

void OwnEndings::leaveAhead(const QString& uid, const std::vector<StateChange>& changes) {
    const auto left = m_left.find(uid);
    if (left != m_left.end() && left->second == changes) return;
    if (TestEndings::leave(m_path, uid, changes)) m_left[uid] = changes;
}

bool OwnEndings::leaveAtEnd(const QString& uid, const std::vector<StateChange>& changes) {
    const auto left = m_left.find(uid);
    if (left != m_left.end() && left->second == changes) return true;
    return TestEndings::leave(m_path, uid, changes);
}

void TakeUpEndings(const QString& archivePath, TestWrites& writes) {
    for (const QString& uid : TestEndings::waiting(archivePath)) {
        // Its program has let go of it; one that takes it up first writes it.
        const std::unique_ptr<TestLock> lock =
            TestLock::tryAcquireEnded(archivePath, uid, writes.lockKey(uid));
        if (!lock) continue;
        for (const StateChange& change : TestEndings::read(archivePath, uid))
            if (!writes.hasStateChange(uid, change.state, change.atMs))
                writes.changeState(uid, change.state, change.atMs);
        TestEndings::remove(archivePath, uid);
    }
}

}  // namespace archive::writer
