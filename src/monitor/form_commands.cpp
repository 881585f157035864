#include "monitor/testclass.h"

void Testclass::OnCloseTest() {}
void Testclass::OnUserManagement() {}
void Testclass::OnTechSupport() {}
void Testclass::OnCommPort() {}
