#include "app/kivo_app.h"

#include <QApplication>

#include "app/main_frame.h"
#include "app/program_pictures.h"

CKivoApp::~CKivoApp() { ExitInstance(); }

bool CKivoApp::InitInstance() {
    QApplication::setWindowIcon(ProgramIcon());
    m_pMainWnd = new CMainFrame;
    m_pMainWnd->setWindowTitle(QStringLiteral("混凝土氯离子电通量测定仪"));
    m_pMainWnd->showMaximized();
    return true;
}

void CKivoApp::ExitInstance() { delete m_pMainWnd.data(); }
