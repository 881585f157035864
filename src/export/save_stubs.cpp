#include "monitor/testclass.h"

void Testclass::OnSaveText() {}
void Testclass::OnSaveChart() {}
