#include <QApplication>
#include <cstdio>

#include "app/install_check.h"
#include "app/kivo_app.h"
#include "app/main_frame.h"
#include "app/startup_probe.h"
#include "link/link_threads.h"
#include "platform/gui_gate.h"
#include "platform/qt_translations.h"

int main(int argc, char* argv[]) {
    const long long startNs = SteadyNowNs();
    QApplication app(argc, argv);
    InstallQtChineseTranslations(app);
    if (app.arguments().contains(QStringLiteral("--check-install"))) {
        QString report;
        const int status = CheckInstall(&report);
        std::fputs(report.toUtf8().constData(), stdout);
        return status;
    }
    int rc = 1;
    {
        CKivoApp kivo;
        if (kivo.InitInstance()) {
            // Start-up timing: report the main window's first paint and end there.
            if (qEnvironmentVariable("KIVO_EXIT_WHEN_SHOWN") == QStringLiteral("1"))
                ExitWhenFirstShown(CMainFrame::instance(), startNs);
            rc = app.exec();
        }
        kivo.ExitInstance();
    }
    GuiGate::instance().close();
    LinkThreads::joinAll();
    return rc;
}
