#include "monitor/testclass.h"

void Testclass::OnSaveExcel() {}
