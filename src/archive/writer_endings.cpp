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
        if (leave(uid, changes)) {
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
        remove(it->first);
        it = m_left.erase(it);
    }
    for (auto it = m_lost.begin(); it != m_lost.end();)
        it = unwritten.count(it->first) != 0 ? std::next(it) : m_lost.erase(it);
    return newlyLost;
}

void OwnEndings::leaveAhead(const QString& uid, const std::vector<StateChange>& changes) {
    const auto left = m_left.find(uid);
    if (left != m_left.end() && left->second == changes) return;
    if (leave(uid, changes)) m_left[uid] = changes;
}

bool OwnEndings::leaveAtEnd(const QString& uid, const std::vector<StateChange>& changes) {
    const auto left = m_left.find(uid);
    if (left != m_left.end() && left->second == changes) return true;
    return leave(uid, changes);
}

void OwnEndings::seal() {
    std::lock_guard lock(m_placing);
    m_sealed = true;
}

bool OwnEndings::leave(const QString& uid, const std::vector<StateChange>& changes) {
    // Written (and synced) before the lock: only the rename waits on it.
    const QByteArray aside = TestEndings::writeAside(m_path, uid, changes);
    if (aside.isEmpty()) return false;
    std::lock_guard lock(m_placing);
    if (!m_sealed) return TestEndings::putInPlace(m_path, uid, aside);
    // What the close leaves holds these changes and all after them; this one goes in place
    // only where none is yet, so a close that cannot write its own still leaves an ending
    // (its own, written later, replaces it).
    TestEndings::putInPlaceIfNone(m_path, uid, aside);
    return true;
}

void OwnEndings::remove(const QString& uid) {
    std::lock_guard lock(m_placing);
    if (!m_sealed) TestEndings::remove(m_path, uid);
}

void TakeUpEndings(const QString& archivePath, TestWrites& writes) {
    for (const QString& uid : TestEndings::waiting(archivePath)) {
        // An ending of a test this archive does not hold (it is still only in an archive moved
        // aside, say) stays beside it, for an archive that takes the test up.
        if (!writes.holds(uid)) continue;
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
