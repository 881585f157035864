#include "monitor/testclass.h"

// Closing the test window (button 1028 and menu "退出").
void Testclass::OnCloseTest() {}
