#include <QApplication>

#include "app/kivo_app.h"
#include "link/link_threads.h"
#include "platform/gui_gate.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    int rc = 1;
    {
        CKivoApp kivo;
        if (kivo.InitInstance()) rc = app.exec();
        kivo.ExitInstance();
    }
    GuiGate::instance().close();
    LinkThreads::joinAll();
    return rc;
}
