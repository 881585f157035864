#include "monitor/form_link.h"
#include "monitor/testclass.h"

void Testclass::OnDeviceInit() {}
void Testclass::OnStartTest() {}
void Testclass::StopTest() { m_link->StopTest(); }
void Testclass::FinishTest(bool sendStop, const QString& picturePrompt) {
    m_link->FinishTest(sendStop, picturePrompt);
}
void Testclass::OnRecordSample() {}

void FormLink::StopTest() {}
void FormLink::FinishTest(bool, const QString&) {}
