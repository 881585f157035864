#include "monitor/testclass.h"

void Testclass::OnSaveChart() {}
void Testclass::OnSaveExcel() {}
