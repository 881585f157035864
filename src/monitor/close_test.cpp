#include <QMdiSubWindow>
#include <QPointer>

#include "monitor/exit_confirm.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"

// Closing the test window (button 1028 and menu "退出"): refused while a test runs, then
// the exit password (not for a form that only shows an archived test); the link threads are
// told to end, and the window closes, which destroys the form (its destructor joins the
// threads and closes the port).
void Testclass::OnCloseTest() {
    if (g_bTesting != 0) {
        MessageBox::show(this, QStringLiteral("请先停止实验!"), QString());
        return;
    }
    QPointer<Testclass> self(this);
    // A form that only shows an archived test runs nothing: it closes without the password.
    // Records the archive could not take are offered for export first.
    if (!m_viewOnly && (!OfferExportBeforeClosing() || !self || !ConfirmExit(this) || !self))
        return;
    g_bLinkActive = 0;
    g_bWorkerRun = 0;
    m_link->m_hStopEvent.setAndClose();
    g_hRxStopEvent.setAndClose();

    for (QWidget* w = parentWidget(); w != nullptr; w = w->parentWidget()) {
        if (auto* frame = qobject_cast<QMdiSubWindow*>(w)) {
            // The password has been given: a frame that turns the close request down (it
            // keeps the operator's own close attempts out) goes all the same.
            const bool closed = frame->close();
            if (!closed || !frame->testAttribute(Qt::WA_DeleteOnClose)) frame->deleteLater();
            return;
        }
    }
    if (close()) deleteLater();
}
