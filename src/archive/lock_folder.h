#pragma once

#include <QString>

// The folder beside the archive where the copies of the program leave what tells them about
// each other ("kivo.sqlite.locks"): the tests' locks, the endings still to be written, the
// file every user of the archive holds. It is shared by every operator account of the group
// that owns the program's folder, whatever the umask of the account that made it.
namespace archive {

QString LockFolder(const QString& archivePath);
// Makes the folder when it is missing; false when it cannot be used.
bool MakeLockFolder(const QString& archivePath);
// Opens (making it when missing) a file of the folder for locking; a file this account made is
// given to the group. -1 with errno set when it cannot be opened.
int OpenSharedFile(const QString& path);

}  // namespace archive
