#pragma once

#include <QPointer>
#include <functional>
#include <memory>

#include "app/main_frame.h"
#include "server/server_settings.h"

namespace server {
class ServerSender;
}

// The application: creates the main window at start-up and takes it down at the end, with the
// archive and the sender that forwards it to the lab server.
class CKivoApp {
  public:
    CKivoApp();
    ~CKivoApp();
    CKivoApp(const CKivoApp&) = delete;
    CKivoApp& operator=(const CKivoApp&) = delete;

    // Where the program's own sender reads the lab server's settings, each time it reads them
    // (ReadServerSettings unless told otherwise before InitInstance).
    void setServerSettings(std::function<server::ServerSettings()> read) {
        m_serverSettings = std::move(read);
    }

    // Creates the main window and shows it maximised; false ends the program.
    bool InitInstance();
    // Destroys the main window if it still exists, and with it the test window.
    void ExitInstance();

    CMainFrame* mainFrame() const { return m_pMainWnd.data(); }
    server::ServerSender* sender() const { return m_sender.get(); }

  private:
    QPointer<CMainFrame> m_pMainWnd;
    std::unique_ptr<server::ServerSender> m_sender;
    std::function<server::ServerSettings()> m_serverSettings;
};
