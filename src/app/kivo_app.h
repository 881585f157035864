#pragma once

#include <QPointer>

#include "app/main_frame.h"

// The application: creates the main window at start-up and takes it down at the end.
class CKivoApp {
  public:
    CKivoApp() = default;
    ~CKivoApp();
    CKivoApp(const CKivoApp&) = delete;
    CKivoApp& operator=(const CKivoApp&) = delete;

    // Creates the main window and shows it maximised; false ends the program.
    bool InitInstance();
    // Destroys the main window if it still exists, and with it the test window.
    void ExitInstance();

    CMainFrame* mainFrame() const { return m_pMainWnd.data(); }

  private:
    QPointer<CMainFrame> m_pMainWnd;
};
