#include "accounts/user_dialog.h"
#include "app/support_dialog.h"
#include "link/serial_channel.h"
#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"
#include "run/comm_dialog.h"

void Testclass::OnUserManagement() {
    CUserDlg dialog(this);
    dialog.exec();
}

void Testclass::OnTechSupport() {
    CSupportDlg dialog(this);
    dialog.exec();
}

// Reopens the link on the port chosen in the port dialog, whether or not a test runs.
void Testclass::OnCommPort() {
    CCommDlg dialog(this);
    if (dialog.exec() != QDialog::Accepted) return;
    CloseLink();
    if (!OpenLink(link(), g_nComPort))
        setItemTextOnGui(FormId::CommStatus, QStringLiteral("通信故障"));
}
