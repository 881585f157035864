#pragma once

#include <sys/types.h>

#include <QString>
#include <QTemporaryDir>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <memory>

#include "export/office/office_launch_options.h"

// One private office process for the time of one job, and the UNO connection to it.
//
// The office runs with a user profile of its own in a fresh temporary folder, so it never
// joins (and on its end never closes) an office the user has open, nor another job's. It is
// started in its own process group; a start that does not answer in time and a stop that
// does not finish in time kill the whole group, so neither can hang the caller or leave an
// office behind.
class OfficeSession {
  public:
    explicit OfficeSession(OfficeLaunchOptions options);
    ~OfficeSession();
    OfficeSession(const OfficeSession&) = delete;
    OfficeSession& operator=(const OfficeSession&) = delete;

    // Starts the office and connects to it; on failure everything started is undone and
    // `error` says why.
    bool start(QString* error);
    // Tells the office to end, waits for its process and removes its profile.
    void stop();

    bool running() const { return m_desktop.is(); }
    const com::sun::star::uno::Reference<com::sun::star::frame::XDesktop2>& desktop() const {
        return m_desktop;
    }

  private:
    bool launch(const QString& pipeName, QString* error);
    bool connect(const QString& pipeName, QString* error);
    // Waits up to `ms` for the office process to end; true when it has.
    bool waitForExit(int ms);
    void killProcess();
    void releaseConnection();

    OfficeLaunchOptions m_options;
    std::unique_ptr<QTemporaryDir> m_profile;
    QString m_pipeName;
    pid_t m_pid = -1;
    com::sun::star::uno::Reference<com::sun::star::uno::XComponentContext> m_localContext;
    com::sun::star::uno::Reference<com::sun::star::uno::XComponentContext> m_remoteContext;
    com::sun::star::uno::Reference<com::sun::star::frame::XDesktop2> m_desktop;
};

// The text of a UNO exception's message.
QString UnoMessage(const rtl::OUString& message);
rtl::OUString ToOUString(const QString& text);
