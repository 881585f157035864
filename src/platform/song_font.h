#pragma once

#include <QFont>

// The Song face the design asks for ("宋体"): SimSun where it is installed, otherwise an
// installed Song/Ming face.
QFont songFont(int pixelSize, int weight = 400);
