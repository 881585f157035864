#pragma once

#include <QString>

// The folder of the running program, ending in "/": the account file and the report
// template live there. Tests point it at a scratch folder.
namespace ProgramFolder {

QString path();
void setForTests(const QString& folder);  // an empty folder restores the real one

}  // namespace ProgramFolder
