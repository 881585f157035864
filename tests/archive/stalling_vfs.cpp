#include "stalling_vfs.h"

#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ArchiveTesting::StallingVfs {
namespace {

struct State {
    std::mutex mutex;
    std::condition_variable changed;
    bool stalled = false;
    int blocked = 0;
    int open = 0;
};
State& TheState() {
    static State* state = new State;  // never destroyed: a thread left behind may still sync
    return *state;
}

sqlite3_vfs* g_base = nullptr;

// Each file carries the base file system's file right behind it.
struct ShimFile {
    sqlite3_file file;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};
sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<ShimFile*>(f)->real(); }

int Close(sqlite3_file* f) {
    const int rc = Real(f)->pMethods->xClose(Real(f));
    std::lock_guard lock(TheState().mutex);
    --TheState().open;
    TheState().changed.notify_all();
    return rc;
}
int Sync(sqlite3_file* f, int flags) {
    State& s = TheState();
    {
        std::unique_lock lock(s.mutex);
        if (s.stalled) {
            ++s.blocked;
            s.changed.notify_all();
            s.changed.wait(lock, [&] { return !s.stalled; });
            --s.blocked;
        }
    }
    return Real(f)->pMethods->xSync(Real(f), flags);
}
int Read(sqlite3_file* f, void* b, int n, sqlite3_int64 o) {
    return Real(f)->pMethods->xRead(Real(f), b, n, o);
}
int Write(sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
    return Real(f)->pMethods->xWrite(Real(f), b, n, o);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
    return Real(f)->pMethods->xTruncate(Real(f), size);
}
int FileSize(sqlite3_file* f, sqlite3_int64* size) {
    return Real(f)->pMethods->xFileSize(Real(f), size);
}
int Lock(sqlite3_file* f, int l) { return Real(f)->pMethods->xLock(Real(f), l); }
int Unlock(sqlite3_file* f, int l) { return Real(f)->pMethods->xUnlock(Real(f), l); }
int CheckReserved(sqlite3_file* f, int* out) {
    return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
    return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int Characteristics(sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); }
int ShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
    return Real(f)->pMethods->xShmMap(Real(f), page, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
    return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int ShmUnmap(sqlite3_file* f, int remove) { return Real(f)->pMethods->xShmUnmap(Real(f), remove); }
// Version 2: shared memory for the WAL journal, no memory-mapped reads.
const sqlite3_io_methods kMethods = {
    2,        Close,         Read,        Write,      Truncate,        Sync,   FileSize, Lock,
    Unlock,   CheckReserved, FileControl, SectorSize, Characteristics, ShmMap, ShmLock,  ShmBarrier,
    ShmUnmap, nullptr,       nullptr,
};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    auto* shim = reinterpret_cast<ShimFile*>(f);
    shim->file.pMethods = nullptr;
    const int rc = g_base->xOpen(g_base, name, shim->real(), flags, outFlags);
    if (shim->real()->pMethods == nullptr) return rc;
    shim->file.pMethods = &kMethods;
    std::lock_guard lock(TheState().mutex);
    ++TheState().open;
    return rc;
}

sqlite3_vfs* Shim() {
    static sqlite3_vfs* vfs = [] {
        g_base = sqlite3_vfs_find(nullptr);
        auto* made = new sqlite3_vfs(*g_base);
        made->zName = "kivo-stalling";
        made->szOsFile = int(sizeof(ShimFile)) + g_base->szOsFile;
        made->xOpen = Open;
        made->pNext = nullptr;
        sqlite3_vfs_register(made, 0);
        return made;
    }();
    return vfs;
}

bool WaitUntil(int ms, bool (*done)(State&)) {
    State& s = TheState();
    std::unique_lock lock(s.mutex);
    return s.changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return done(s); });
}

}  // namespace

void makeDefault(bool on) {
    sqlite3_vfs* shim = Shim();
    sqlite3_vfs_register(on ? shim : g_base, 1);
}

void stall() {
    std::lock_guard lock(TheState().mutex);
    TheState().stalled = true;
}

bool waitStalled(int ms) {
    return WaitUntil(ms, [](State& s) { return s.blocked > 0; });
}

void resume() {
    std::lock_guard lock(TheState().mutex);
    TheState().stalled = false;
    TheState().changed.notify_all();
}

bool waitAllClosed(int ms) {
    return WaitUntil(ms, [](State& s) { return s.open == 0; });
}

}  // namespace ArchiveTesting::StallingVfs
