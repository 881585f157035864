#include "app/main_frame.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>

#include "accounts/account_file.h"
#include "accounts/exit_dialog.h"
#include "accounts/login_dialog.h"
#include "app/background_wnd.h"
#include "app/polling_timers.h"
#include "app/program_pictures.h"
#include "app/support_dialog.h"
#include "history/history_window.h"
#include "history/viewed_test.h"
#include "monitor/testclass.h"
#include "platform/message_box.h"
#include "run/archive_session.h"
#include "run/archived_test_loading.h"
#include "run/param_dialog.h"
#include "run/recovered_test.h"
#include "run/recovery_offer.h"
#include "server/server_dialog.h"
#include "state/test_state.h"

namespace {
CMainFrame* g_pMainFrame = nullptr;
}

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    g_pMainFrame = this;
    // No maximise box: the window stays maximised as shown at start-up.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("混凝土氯离子电通量测定仪"));
    setWindowIcon(ProgramIcon());

    m_wndClient = new CBackgroundWnd(this);
    setCentralWidget(m_wndClient);
    buildMenu();
    buildStatusBar();
    // The polling timers of a running test live with the main frame.
    new PollingTimers(this);
    updateCommands();
}

CMainFrame::~CMainFrame() {
    // The test window (and with it the form's teardown) goes first, while this frame is
    // still whole.
    if (m_pTestFrame) {
        if (Testclass* form = testForm()) form->disconnect(this);
        m_pTestFrame->disconnect(this);
        delete m_pTestFrame.data();
    }
    if (g_pMainFrame == this) g_pMainFrame = nullptr;
}

CMainFrame* CMainFrame::instance() { return g_pMainFrame; }

void CMainFrame::buildMenu() {
    // Each popup keeps its Chinese title and gets a letter for Alt, as Qt needs one.
    auto add = [this](QWidget* menu, int id, const QString& text, const QKeySequence& keys) {
        auto* action = new QAction(text, this);
        action->setShortcut(keys);
        menu->addAction(action);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        m_commands[id] = action;
    };
    QMenu* test = menuBar()->addMenu(QStringLiteral("实验(&E)"));
    add(test, ID_NEW_TEST, QStringLiteral("新建实验"), QKeySequence(Qt::CTRL | Qt::Key_N));
    add(test, ID_HISTORY, QStringLiteral("历史实验"), QKeySequence(Qt::CTRL | Qt::Key_H));
    test->addSeparator();
    add(test, ID_REPORT_PDF, QStringLiteral("导出试验报告PDF"), {});
    add(test, ID_REPORT_PRINT, QStringLiteral("打印试验报告"), QKeySequence(Qt::CTRL | Qt::Key_P));
    QMenu* settings = menuBar()->addMenu(QStringLiteral("系统设置(&S)"));
    add(settings, ID_COMM_PORT, QStringLiteral("通信端口"), {});
    add(settings, ID_USERS, QStringLiteral("用户管理"), {});
    add(settings, ID_GRADING, QStringLiteral("结果评定"), {});
    add(settings, ID_LAB_SERVER, QStringLiteral("实验室服务器"), {});
    QMenu* exit = menuBar()->addMenu(QStringLiteral("退出系统(&X)"));
    add(exit, ID_CLOSE_TEST, QStringLiteral("退出"), {});
    add(menuBar(), ID_SUPPORT, QStringLiteral("技术支持(&H)"), QKeySequence(Qt::Key_F1));
}

void CMainFrame::buildStatusBar() {
    auto* message = new QLabel(QStringLiteral("就绪"), this);
    statusBar()->addWidget(message, 1);
    // The lock-key panes; Qt gives no portable way to read the lock states, so each pane
    // just carries its name.
    for (const QString& name :
         {QStringLiteral("大写"), QStringLiteral("数字"), QStringLiteral("滚动")}) {
        auto* pane = new QLabel(name, this);
        pane->setAlignment(Qt::AlignCenter);
        pane->setMinimumWidth(pane->sizeHint().width() + 12);
        statusBar()->addPermanentWidget(pane);
    }
}

void CMainFrame::showServerStatus(const QString& text) {
    // The pane comes with the first news of a server; without one the status bar is as it was.
    if (!m_serverStatus) {
        if (text.isEmpty()) return;
        m_serverStatus = new QLabel(this);
        statusBar()->insertPermanentWidget(0, m_serverStatus);
    }
    m_serverStatus->setText(text);
    m_serverStatus->setVisible(!text.isEmpty());
}

QString CMainFrame::serverStatusText() const {
    return m_serverStatus ? m_serverStatus->text() : QString();
}

QAction* CMainFrame::command(int id) const {
    auto it = m_commands.find(id);
    return it == m_commands.end() ? nullptr : it->second;
}

Testclass* CMainFrame::testForm() const { return m_pTestFrame ? m_pTestFrame->form() : nullptr; }

// The form's commands have no handler while there is no form.
void CMainFrame::updateCommands() {
    const Testclass* form = testForm();
    for (int id : {ID_USERS, ID_CLOSE_TEST, ID_REPORT_PDF, ID_REPORT_PRINT})
        command(id)->setEnabled(form != nullptr);
    // A test shown in view mode has no port.
    command(ID_COMM_PORT)->setEnabled(form != nullptr && !form->viewOnly());
}

void CMainFrame::OnCommand(int id) {
    Testclass* form = testForm();
    switch (id) {
        case ID_NEW_TEST:
            OnNewTest();
            break;
        case ID_HISTORY:
            OnHistory();
            break;
        case ID_COMM_PORT:
            if (form && !form->viewOnly()) form->OnCommPort();
            break;
        case ID_USERS:
            if (form) form->OnUserManagement();
            break;
        case ID_CLOSE_TEST:
            if (form) form->OnCloseTest();
            break;
        case ID_REPORT_PDF:
        case ID_REPORT_PRINT:
            OnTestReport(id == ID_REPORT_PRINT);
            break;
        case ID_GRADING:
            OnGrading();
            break;
        case ID_LAB_SERVER: {
            ServerDialog dialog(this);
            if (dialog.exec() == QDialog::Accepted) emit serverSettingsChanged();
            break;
        }
        case ID_SUPPORT:
            if (form) {
                form->OnTechSupport();
            } else {
                CSupportDlg dialog(this);
                dialog.exec();
            }
            break;
        default:
            break;
    }
}

void CMainFrame::OnNewTest() {
    if (!AccountFile::ensure(this)) return;
    {
        CLoginDlg login(this);
        if (login.exec() != QDialog::Accepted) return;
    }
    if (m_pTestFrame) {
        if (m_pTestFrame->isMinimized()) m_pTestFrame->showMaximized();
        m_wndClient->setActiveSubWindow(m_pTestFrame);
        return;
    }
    if (std::optional<RecoveredTest> recovered = OfferRecovery(this)) {
        // The recovered test's own parameters; no parameter dialog.
        SetParametersFromArchive(recovered->test.header);
        TakeUpRecoveredTest(*openTestWindow(), std::move(*recovered));
        return;
    }
    {
        CParamDlg parameters(this);
        if (parameters.exec() != QDialog::Accepted) return;
    }
    openTestWindow();
}

Testclass* CMainFrame::openTestWindow(bool viewOnly) {
    if (!viewOnly) g_bLinkActive = 1;
    auto* form = new Testclass;
    form->setViewOnly(viewOnly);
    auto* frame = new CChildFrame(form);
    m_pTestFrame = frame;
    m_wndClient->addSubWindow(frame, frame->windowFlags());
    // The frame's and the form's destroyed signals come while they are being destroyed:
    // neither is touched as what it was.
    connect(frame, &QObject::destroyed, this, &CMainFrame::testFrameGone);
    connect(form, &QObject::destroyed, this, [this, window = QPointer<QObject>(frame)] {
        if (window) window->deleteLater();  // a form destroyed on its own takes its window
        testFrameGone();
    });
    frame->showMaximized();
    m_wndClient->setActiveSubWindow(frame);
    form->OnInitialUpdate();
    updateCommands();
    return form;
}

HistoryWindow* CMainFrame::historyWindow() const { return m_history.data(); }

void CMainFrame::OnHistory() {
    if (!m_history) {
        HistoryWindow::Host host;
        host.openTest = [this](qint64 id) { return OpenArchivedTest(id); };
        host.viewedTest = [this] { return m_viewedTestId; };
        host.showTest = [this](ViewedTest viewed) {
            return ShowViewedTest(std::move(viewed), std::nullopt);
        };
        m_history = new HistoryWindow(this, ArchiveSession::path(), std::move(host));
    }
    if (m_history->isVisible()) m_history->refresh();
    m_history->show();
    m_history->raise();
    m_history->activateWindow();
}

bool CMainFrame::OpenArchivedTest(qint64 id) {
    if (!testWindowFree()) return false;
    QWidget* owner = m_history && m_history->isVisible() ? static_cast<QWidget*>(m_history) : this;
    std::optional<ViewedTest> viewed = LoadViewedTest(owner, ArchiveSession::path(), id);
    return viewed && ShowViewedTest(std::move(*viewed), id);
}

bool CMainFrame::testWindowFree() {
    if (!m_pTestFrame) return true;
    QWidget* owner = m_history && m_history->isVisible() ? static_cast<QWidget*>(m_history) : this;
    MessageBox::show(owner, QStringLiteral("请先关闭当前的实验窗口，再打开历史实验。"),
                     MessageBox::kAppCaption, MessageBox::Buttons::Ok,
                     MessageBox::Icon::Exclamation);
    return false;
}

bool CMainFrame::ShowViewedTest(ViewedTest viewed, std::optional<qint64> archiveId) {
    if (!testWindowFree()) return false;
    SetParametersFromArchive(viewed.test.header);
    Testclass* form = openTestWindow(true);
    m_viewedTestId = archiveId;
    m_pTestFrame->setWindowTitle(ViewedTestTitle(viewed.test));
    ShowTestForViewing(*form, viewed, ArchiveSession::path());
    return true;
}

void CMainFrame::testFrameGone() {
    m_pTestFrame = nullptr;
    m_viewedTestId.reset();
    updateCommands();
}

void CMainFrame::CloseTestWindow() {
    if (m_pTestFrame) m_pTestFrame->closeFromForm();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // Closing with the test window open needs the password of the last login. A running
    // test is not stopped first: the form's teardown ends the link. A test shown in view
    // mode runs nothing and needs no password.
    Testclass* form = testForm();
    if (m_pTestFrame && !(form && form->viewOnly()) &&
        ((form && !form->OfferExportBeforeClosing()) || !RunExitDialog(this))) {
        event->ignore();
        return;
    }
    event->accept();
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    // A restore from maximised (the caption double-click of most window managers) is
    // undone; minimising is allowed. A window manager that refuses to maximise never gets
    // here again, so the two cannot bounce.
    const auto old = static_cast<QWindowStateChangeEvent*>(event)->oldState();
    const auto now = windowState();
    if ((old & Qt::WindowMaximized) &&
        !(now & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen))) {
        QTimer::singleShot(0, this, [this] { showMaximized(); });
    }
}
