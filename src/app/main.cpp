#include <QApplication>

#include "link/link_threads.h"
#include "monitor/testclass.h"
#include "platform/gui_gate.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    Testclass form;
    form.OnInitialUpdate();
    form.show();
    const int rc = app.exec();
    GuiGate::instance().close();
    LinkThreads::joinAll();
    return rc;
}
