#include "monitor/testclass.h"

void Testclass::DrawTrendSegment(const QString&) {}
