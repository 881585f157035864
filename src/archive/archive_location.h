#pragma once

#include <QString>

namespace archive {

// The archive file: "kivo.sqlite" in the program's folder, beside the account file, unless the
// environment variable KIVO_ARCHIVE names another file.
QString ArchivePath();

}  // namespace archive
