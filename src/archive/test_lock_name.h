#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>

// The machine-wide name of a running test: a socket bound to a name in the abstract socket
// space, which needs no folder and is gone with the process however it ends. The name is the
// archive's key (a hash of its real path) and the test's uid, so two archive folders never
// share a name. The key is made once, as the test starts, and kept with the test in the
// archive: a folder that resolves otherwise later (a share mounted late, a symlink made since)
// must not give the running test a second name. A name that is taken is asked who holds it:
// the kernel tells the account of the process that bound it.
namespace archive {

// The key of the archive at `archivePath` as its path resolves now.
QString ArchiveLockKey(const QString& archivePath);
// The name of test `uid` of the archive at `archivePath` (without the leading zero byte), made
// from the test's `key`; from the archive's key as it resolves now when `key` is empty.
QByteArray TestLockName(const QString& archivePath, const QString& uid, const QString& key = {});

struct NameHold {
    enum class Result {
        Bound,               // this process holds the name now (`fd`)
        HeldHere,            // a process of this account holds it
        HeldByOtherAccount,  // a process of another account (`holder`) holds it
        Unchecked,           // the name could not be bound nor its holder asked (`error`)
    };
    Result result = Result::Unchecked;
    int fd = -1;
    uid_t holder = 0;
    int error = 0;
};

// Binds `name`, or finds out who holds it.
NameHold BindLockName(const QByteArray& name);

// What keeps a name from being bound or asked, for the operator ("打开的文件过多").
QString NameErrorText(int error);

}  // namespace archive
