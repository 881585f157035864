#pragma once

#include <QString>
#include <QStringList>
#include <map>
#include <mutex>
#include <vector>

#include "archive/archive_rows.h"
#include "archive/test_writes.h"

// The writer's side of the endings beside the archive (see test_endings.h).
//
// Its own: while the archive fails, a test whose unwritten state changes include an ending
// (finished, stopped, closed) has them left beside the archive at once, before its window can
// go, and again each time they change; once they are all in the archive the file goes. A kill
// at any moment then leaves the test ended, never offered as crashed.
//
// Other programs': the endings they left are written into the archive whenever the writer
// has it open, at every retry tick, not only when it connects.
namespace archive::writer {

bool IsEnding(TestState state);

class OwnEndings {
  public:
    explicit OwnEndings(QString archivePath) : m_path(std::move(archivePath)) {}

    // `unwritten`: every test's state changes that are not in the archive yet, in order. Leaves
    // or removes the files to match; returns the tests whose ending could not be left, each
    // once (the operator is told).
    QStringList update(const std::map<QString, std::vector<StateChange>>& unwritten);
    bool any() const { return !m_left.empty() || !m_lost.empty(); }
    // Whether the test's ending could neither be written nor left.
    bool lost(const QString& uid) const { return m_lost.count(uid) != 0; }
    // An ending about to be written: left beside the archive first, so that a kill while the
    // archive keeps it waiting (a busy archive, a slow disk) cannot lose it; it goes with the
    // next update() once it is written. A failure here is not said: the write may still work,
    // and update() says it when the write fails too.
    void leaveAhead(const QString& uid, const std::vector<StateChange>& changes);
    // The test's last word, at the program's end: false when it could not be left either.
    bool leaveAtEnd(const QString& uid, const std::vector<StateChange>& changes);
    // From any thread: no file is put in place or removed any more; one being put in place or
    // removed now is waited for. A close that leaves the writer's thread on a stalled disk
    // seals it before it leaves the fuller endings itself, so the thread, once it comes back,
    // never renames an older file over them nor removes them.
    void seal();

  private:
    bool leave(const QString& uid, const std::vector<StateChange>& changes);
    void remove(const QString& uid);

    QString m_path;
    std::map<QString, std::vector<StateChange>> m_left;  // as they stand beside the archive
    std::map<QString, bool> m_lost;                      // could not be left; told
    std::mutex m_placing;  // held while a file is put in place or removed, and to seal
    bool m_sealed = false;
};

// Writes the endings other programs left, each once, under its test's lock; a change the
// archive has already is not written again. Throws SqlError as the writes do.
void TakeUpEndings(const QString& archivePath, TestWrites& writes);

}  // namespace archive::writer
