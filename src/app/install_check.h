#pragma once

#include <QString>

// `kivo --check-install`: tells where the program runs from and whether its report template
// and its account file are there. Returns the exit status (0 when both are there).
int CheckInstall(QString* report);
