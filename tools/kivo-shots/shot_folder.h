#pragma once

#include <QTemporaryDir>

// A program folder of its own for a shot: the account file the login reads is made there
// (admin / 579), and nothing of the real installation is touched.
class ShotProgramFolder {
  public:
    ShotProgramFolder();
    ~ShotProgramFolder();
    ShotProgramFolder(const ShotProgramFolder&) = delete;
    ShotProgramFolder& operator=(const ShotProgramFolder&) = delete;
    bool ok() const { return m_ok; }

  private:
    QTemporaryDir m_dir;
    bool m_ok = false;
};
