#include "monitor/testclass.h"

// Opening and closing the serial link from the form.
void Testclass::OpenLinkOnInitialUpdate() {}

void Testclass::ClosePortOnTeardown() {}
