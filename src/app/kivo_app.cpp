#include "app/kivo_app.h"

#include <QApplication>
#include <QScreen>

#include "app/main_frame.h"
#include "app/program_pictures.h"
#include "archive/archive_location.h"
#include "platform/busy_work.h"
#include "platform/message_box.h"
#include "run/archive_session.h"
#include "server/archive_outbox.h"
#include "server/server_sender.h"

CKivoApp::CKivoApp() = default;
CKivoApp::~CKivoApp() { ExitInstance(); }

bool CKivoApp::InitInstance() {
    // Every test is kept in the archive as it runs; opening it never delays the window. What
    // the archive keeps goes on to the lab server when there is one; the sender shows how far
    // it is in the main window's status bar.
    const QString path = archive::ArchivePath();
    server::ServerSender::Options options;
    if (m_serverSettings) options.settings = m_serverSettings;
    m_sender = std::make_unique<server::ServerSender>(
        path,
        [](const server::ServerSender::Status& s) {
            QCoreApplication* app = QCoreApplication::instance();
            if (!app) return;
            QMetaObject::invokeMethod(
                app,
                [text = s.text()] {
                    if (CMainFrame* frame = CMainFrame::instance()) frame->showServerStatus(text);
                },
                Qt::QueuedConnection);
        },
        options);
    ArchiveSession::open(path, m_sender->waker());
    QApplication::setWindowIcon(ProgramIcon());
    m_pMainWnd = new CMainFrame;
    m_pMainWnd->setWindowTitle(QStringLiteral("混凝土氯离子电通量测定仪"));
    m_pMainWnd->showServerStatus(m_sender->status().text());
    QObject::connect(m_pMainWnd, &CMainFrame::serverSettingsChanged, m_pMainWnd,
                     [sender = m_sender.get()] { sender->reconfigure(); });
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
    if (!m_sender) return;
    // A last short attempt at what waits for the lab server; what is left goes at the next
    // start, and the operator is told so.
    using State = server::ServerSender::State;
    const State state = m_sender->status().state;
    if (state == State::Synced || state == State::Pending)
        RunWithBusyBox(nullptr, QStringLiteral("正在上传到实验室服务器……"),
                       [sender = m_sender.get()] { sender->lastAttempt(3000); });
    m_sender.reset();
    if (state == State::Off) return;
    // An archive that cannot be read now says nothing of what waits: the operator is told
    // that, not that all is sent.
    const std::optional<qint64> pending = server::PendingRows(archive::ArchivePath());
    const QString text =
        !pending ? QStringLiteral(
                       "实验室服务器：无法读取本机测试档案，不知道还有多少数据待上传；"
                       "待上传的数据将在下次启动本程序时上传。")
        : *pending > 0
            ? QStringLiteral("实验室服务器：待上传 %1 条，将在下次启动本程序时上传。").arg(*pending)
            : QString();
    if (!text.isEmpty())
        MessageBox::show(nullptr, text, MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Information);
}
