#include <QApplication>
#include <cstdio>

#include "app/install_check.h"
#include "app/kivo_app.h"
#include "link/link_threads.h"
#include "platform/gui_gate.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (app.arguments().contains(QStringLiteral("--check-install"))) {
        QString report;
        const int status = CheckInstall(&report);
        std::fputs(report.toUtf8().constData(), stdout);
        return status;
    }
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
