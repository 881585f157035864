#include "shot_folder.h"

#include "accounts/account_file.h"
#include "platform/program_folder.h"

ShotProgramFolder::ShotProgramFolder() {
    if (!m_dir.isValid()) return;
    ProgramFolder::setForTests(m_dir.path());
    m_ok = AccountFile::ensure(nullptr);
}

ShotProgramFolder::~ShotProgramFolder() { ProgramFolder::setForTests(QString()); }
