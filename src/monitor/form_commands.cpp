#include "monitor/testclass.h"

void Testclass::OnUserManagement() {}
void Testclass::OnTechSupport() {}
void Testclass::OnCommPort() {}
