#include "app/kivo_app.h"

#include <QApplication>
#include <QScreen>

#include "app/main_frame.h"
#include "app/program_pictures.h"
#include "archive/archive_location.h"
#include "run/archive_session.h"

CKivoApp::~CKivoApp() { ExitInstance(); }

bool CKivoApp::InitInstance() {
    // Every test is kept in the archive as it runs; opening it never delays the window.
    ArchiveSession::open(archive::ArchivePath());
    QApplication::setWindowIcon(ProgramIcon());
    m_pMainWnd = new CMainFrame;
    m_pMainWnd->setWindowTitle(QStringLiteral("混凝土氯离子电通量测定仪"));
    // Without a window manager (a bare X server) nothing maximises the window: it is given
    // the screen's available area first, which a window manager then simply keeps.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        m_pMainWnd->setGeometry(screen->availableGeometry());
    m_pMainWnd->showMaximized();
    return true;
}

void CKivoApp::ExitInstance() {
    delete m_pMainWnd.data();
    ArchiveSession::close();
}
