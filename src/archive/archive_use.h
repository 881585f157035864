#pragma once

#include <QString>

// That this process has the archive open: a shared flock on a file of the lock folder
// ("kivo.sqlite.locks/archive.use"), taken before the archive is opened and held while it is.
// A damaged archive may be moved aside only by a program that holds it alone: no other copy
// then has the old file open and goes on writing into it.
namespace archive {

class ArchiveUse {
  public:
    explicit ArchiveUse(const QString& archivePath);
    ~ArchiveUse();
    ArchiveUse(const ArchiveUse&) = delete;
    ArchiveUse& operator=(const ArchiveUse&) = delete;

    // Turns the shared hold into an exclusive one; false when another process uses the archive
    // too (or the folder cannot be used). Never waits.
    bool tryAlone();
    // Back to a shared hold after tryAlone().
    void share();

  private:
    int m_fd = -1;
};

}  // namespace archive
