#include "link/serial_channel.h"
#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"

// Opening and closing the serial link from the form.
void Testclass::OpenLinkOnInitialUpdate() {
    // A port left open would keep its device locked; a new form starts from a closed one.
    ClosePort();
    if (!OpenLink(m_link, g_nComPort))
        setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信故障"));
}

void Testclass::ClosePortOnTeardown() { ClosePort(); }
