#include "archive/archive_location.h"

#include "platform/program_folder.h"

namespace archive {

QString ArchivePath() {
    const QString chosen = qEnvironmentVariable("KIVO_ARCHIVE");
    if (!chosen.isEmpty()) return chosen;
    return ProgramFolder::path() + QStringLiteral("kivo.sqlite");
}

}  // namespace archive
