#include "monitor/testclass.h"

void Testclass::SelectChannel() {}
void Testclass::onChannelTableItemChanged(int) {}
void Testclass::onChannelTableClicked() {}
