#pragma once

// A disk that stops answering, for the archive's files: a file system (an SQLite VFS over the
// default one) whose sync blocks while the disk is stalled, as fsync does on a stalled disk.
// Connections opened while it is the default use it; it lives as long as the program, since a
// writer thread left behind on a stalled disk may still use its files after a test.
namespace ArchiveTesting::StallingVfs {

// Connections opened from now on use it (true) or the former default (false).
void makeDefault(bool on);
// The next syncs block until resume().
void stall();
// Waits (up to `ms`) until a sync is blocked.
bool waitStalled(int ms);
void resume();
// Waits (up to `ms`) until no file opened through it is still open.
bool waitAllClosed(int ms);

}  // namespace ArchiveTesting::StallingVfs
