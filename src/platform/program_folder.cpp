#include "platform/program_folder.h"

#include <QCoreApplication>

namespace ProgramFolder {
namespace {
QString g_override;
}

QString path() {
    if (!g_override.isEmpty()) return g_override.endsWith('/') ? g_override : g_override + '/';
    // The executable's full path cut after its last "/".
    const QString exe = QCoreApplication::applicationFilePath();
    return exe.left(exe.lastIndexOf('/') + 1);
}

void setForTests(const QString& folder) { g_override = folder; }

}  // namespace ProgramFolder
