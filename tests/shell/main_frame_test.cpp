#include "app/main_frame.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>

#include "accounts/account_file.h"
#include "accounts/exit_dialog.h"
#include "accounts/login_dialog.h"
#include "accounts/user_dialog.h"
#include "app/background_wnd.h"
#include "app/kivo_app.h"
#include "app/program_pictures.h"
#include "app/support_dialog.h"
#include "modal_script.h"
#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "platform/program_folder.h"
#include "support/scripted_dialogs.h"
#include "run/comm_dialog.h"
#include "run/param_dialog.h"
#include "state/test_state.h"

namespace {

void typeAndPress(IdDialog* dialog, int field, const QString& text) {
    static_cast<QLineEdit*>(dialog->item(field))->setText(text);
    static_cast<QPushButton*>(dialog->item(1))->click();
}

void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

QString plain(QString menuText) { return menuText.remove(QRegularExpression("\\(&.\\)")); }

class MainFrameTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ProgramFolder::setForTests(m_dir.path());
        ResetTestStateForTests();
        // No test here may reach a real serial device.
        for (int n = 1; n <= 16; ++n)
            qputenv(QByteArray("KIVO_COM") + QByteArray::number(n), "/nonexistent/kivo-test-port");
        ASSERT_TRUE(m_app.InitInstance());
        m_frame = m_app.mainFrame();
    }
    void TearDown() override {
        m_app.ExitInstance();
        flushDeletes();
        ProgramFolder::setForTests(QString());
        for (int n = 1; n <= 16; ++n) qunsetenv(QByteArray("KIVO_COM") + QByteArray::number(n));
    }

    // "新建实验" with the login and the default parameters accepted.
    QStringList openTestWindow() {
        ModalScript script;
        script.then<CLoginDlg>([](CLoginDlg* d) { typeAndPress(d, CLoginDlg::IdPassword, "579"); })
            .then<CParamDlg>([](CParamDlg* d) { static_cast<QPushButton*>(d->item(1))->click(); });
        m_frame->OnCommand(CMainFrame::ID_NEW_TEST);
        return script.seen();
    }

    QTemporaryDir m_dir;
    ScriptedMessageBoxes m_boxes;
    CKivoApp m_app;
    QPointer<CMainFrame> m_frame;
};

TEST_F(MainFrameTest, StartsMaximisedWithItsMenuAndStatusBar) {
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("混凝土氯离子电通量测定仪"));
    EXPECT_TRUE(m_frame->isMaximized());
    EXPECT_FALSE(m_frame->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(m_frame->windowIcon().isNull());

    QStringList menus;
    for (QAction* a : m_frame->menuBar()->actions()) {
        QString entry = plain(a->text());
        if (a->menu())
            for (QAction* item : a->menu()->actions()) entry += "/" + item->text();
        menus << entry;
    }
    EXPECT_EQ(menus,
              (QStringList{QStringLiteral("实验/新建实验/历史实验//导出试验报告PDF/打印试验报告"),
                           QStringLiteral("系统设置/通信端口/用户管理/结果评定/实验室服务器"),
                           QStringLiteral("退出系统/退出"), QStringLiteral("技术支持")}));
    EXPECT_TRUE(m_frame->command(CMainFrame::ID_NEW_TEST)->isEnabled());
    EXPECT_TRUE(m_frame->command(CMainFrame::ID_HISTORY)->isEnabled());
    EXPECT_TRUE(m_frame->command(CMainFrame::ID_SUPPORT)->isEnabled());
    for (int id : {CMainFrame::ID_COMM_PORT, CMainFrame::ID_USERS, CMainFrame::ID_CLOSE_TEST,
                   CMainFrame::ID_REPORT_PDF, CMainFrame::ID_REPORT_PRINT})
        EXPECT_FALSE(m_frame->command(id)->isEnabled()) << id;

    QStringList panes;
    for (QLabel* l : m_frame->statusBar()->findChildren<QLabel*>()) panes << l->text();
    EXPECT_EQ(panes, (QStringList{QStringLiteral("就绪"), QStringLiteral("大写"),
                                  QStringLiteral("数字"), QStringLiteral("滚动")}));
    EXPECT_FALSE(m_frame->grab().isNull());
}

TEST_F(MainFrameTest, ARestoredMainWindowIsMaximisedAgain) {
    m_frame->showNormal();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    EXPECT_TRUE(m_frame->isMaximized());
    m_frame->showMinimized();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    EXPECT_TRUE(m_frame->isMinimized());
}

TEST_F(MainFrameTest, FirstNewTestCreatesTheAccountFileLogsInAndOpensTheTestWindow) {
    ASSERT_FALSE(QFile::exists(AccountFile::path()));
    EXPECT_EQ(openTestWindow(), (QStringList{"CLoginDlg", "CParamDlg"}));
    QFile file(AccountFile::path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("admin\r\n579\r\n"));

    QPointer<CChildFrame> window = m_frame->m_pTestFrame;
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isMaximized());
    EXPECT_EQ(m_frame->client()->subWindowList().size(), 1);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(window->systemMenu(), nullptr);
    // No window controls of the test window appear in the menu bar.
    for (QWidget* w : m_frame->menuBar()->findChildren<QWidget*>())
        EXPECT_FALSE(w->isVisible() && QString(w->metaObject()->className()).startsWith("QMdi::"))
            << w->metaObject()->className();
    Testclass* form = m_frame->testForm();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(g_pTestView.data(), form);  // the form's first update has run
    EXPECT_EQ(form->itemTextOnGui(FormId::RecordInterval), "5");
    EXPECT_EQ(g_bLinkActive.load(), 1);
    EXPECT_EQ(g_strCurrentUser, "admin");
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("混凝土氯离子电通量测定仪"));
    for (int id : {CMainFrame::ID_COMM_PORT, CMainFrame::ID_USERS, CMainFrame::ID_CLOSE_TEST,
                   CMainFrame::ID_REPORT_PDF, CMainFrame::ID_REPORT_PRINT})
        EXPECT_TRUE(m_frame->command(id)->isEnabled()) << id;

    // A double-click on the window or on the icon Qt shows for it in the menu bar neither
    // restores nor closes it, and no other close request gets past the form's own.
    QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &click);
    for (QWidget* w : m_frame->menuBar()->findChildren<QWidget*>())
        if (w->isVisible()) QCoreApplication::sendEvent(w, &click);
    window->close();
    flushDeletes();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isMaximized());
    EXPECT_TRUE(window->isVisible());

    // A second "新建实验" logs in again and only brings the same window to the front.
    window->showMinimized();
    ModalScript again;
    again.then<CLoginDlg>([](CLoginDlg* d) { typeAndPress(d, CLoginDlg::IdPassword, "579"); });
    m_frame->OnCommand(CMainFrame::ID_NEW_TEST);
    EXPECT_EQ(again.seen(), QStringList{"CLoginDlg"});
    EXPECT_EQ(m_frame->m_pTestFrame.data(), window.data());
    EXPECT_EQ(m_frame->client()->subWindowList().size(), 1);
    EXPECT_EQ(m_frame->client()->activeSubWindow(), window.data());
    EXPECT_FALSE(window->isMinimized());
}

TEST_F(MainFrameTest, CancelledLoginOrParametersOpenNoWindow) {
    ModalScript script;
    script.then<CLoginDlg>([](CLoginDlg* d) { d->reject(); });
    m_frame->OnCommand(CMainFrame::ID_NEW_TEST);
    ModalScript second;
    second.then<CLoginDlg>([](CLoginDlg* d) { typeAndPress(d, CLoginDlg::IdPassword, "1"); })
        .then<CLoginDlg>([](CLoginDlg* d) { typeAndPress(d, CLoginDlg::IdPassword, "579"); })
        .then<CParamDlg>([](CParamDlg* d) { d->reject(); });
    m_frame->OnCommand(CMainFrame::ID_NEW_TEST);
    EXPECT_EQ(second.seen(), (QStringList{"CLoginDlg", "CParamDlg"}));
    EXPECT_EQ(m_boxes.texts(), QStringList{QStringLiteral("密码错误,请重新输入")});
    EXPECT_FALSE(m_frame->m_pTestFrame);
    EXPECT_EQ(g_bLinkActive.load(), 0);
    EXPECT_TRUE(m_frame->client()->subWindowList().isEmpty());
}

TEST_F(MainFrameTest, ClosingWithoutATestWindowAsksNothing) {
    ModalScript script;
    EXPECT_TRUE(m_frame->close());
    flushDeletes();
    EXPECT_TRUE(script.seen().isEmpty());
    EXPECT_FALSE(m_frame);
}

TEST_F(MainFrameTest, ClosingWithATestWindowNeedsThePassword) {
    openTestWindow();
    QPointer<Testclass> form = m_frame->testForm();
    ASSERT_TRUE(form);

    ModalScript cancelled;
    cancelled.then<CExitDlg>([](CExitDlg* d) { static_cast<QPushButton*>(d->item(2))->click(); });
    EXPECT_FALSE(m_frame->close());
    flushDeletes();
    EXPECT_EQ(cancelled.seen(), QStringList{"CExitDlg"});
    ASSERT_TRUE(m_frame);
    EXPECT_TRUE(form);

    ModalScript confirmed;
    confirmed.then<CExitDlg>([](CExitDlg* d) { typeAndPress(d, CExitDlg::IdPassword, "57"); })
        .then<CExitDlg>([](CExitDlg* d) { typeAndPress(d, CExitDlg::IdPassword, "579"); });
    EXPECT_TRUE(m_frame->close());
    flushDeletes();
    EXPECT_EQ(confirmed.seen(), QStringList{"CExitDlg"});
    EXPECT_EQ(m_boxes.texts().count(QStringLiteral("密码错误,请重新输入")), 1);
    EXPECT_FALSE(m_frame);
    EXPECT_FALSE(form);
    EXPECT_EQ(g_bLinkActive.load(), 0);  // the form's teardown ends the link
}

TEST_F(MainFrameTest, ClosingTheTestWindowGreysItsCommandsAndAllowsANewTest) {
    openTestWindow();
    QPointer<Testclass> form = m_frame->testForm();
    m_frame->CloseTestWindow();
    flushDeletes();
    EXPECT_FALSE(form);
    EXPECT_FALSE(m_frame->m_pTestFrame);
    EXPECT_FALSE(m_frame->command(CMainFrame::ID_USERS)->isEnabled());
    EXPECT_EQ(openTestWindow(), (QStringList{"CLoginDlg", "CParamDlg"}));
    EXPECT_TRUE(m_frame->m_pTestFrame);
}

TEST_F(MainFrameTest, AFormDestroyedOnItsOwnTakesItsWindowAlong) {
    openTestWindow();
    QPointer<CChildFrame> window = m_frame->m_pTestFrame;
    delete m_frame->testForm();
    flushDeletes();
    EXPECT_FALSE(window);
    EXPECT_FALSE(m_frame->m_pTestFrame);
    EXPECT_TRUE(m_frame->client()->subWindowList().isEmpty());
    EXPECT_FALSE(m_frame->command(CMainFrame::ID_CLOSE_TEST)->isEnabled());
}

TEST_F(MainFrameTest, TheFormsMenuCommandsReachTheirDialogs) {
    openTestWindow();
    ModalScript script;
    script
        .then<CCommDlg>([](CCommDlg* d) {
            static_cast<QComboBox*>(d->item(CCommDlg::IdPort))->setCurrentIndex(2);
            static_cast<QPushButton*>(d->item(1))->click();
        })
        .then<CUserDlg>([](CUserDlg* d) { d->accept(); });
    m_frame->command(CMainFrame::ID_COMM_PORT)->trigger();
    EXPECT_EQ(g_nComPort, 2);
    // The port behind COM3 does not exist: the link stays down.
    EXPECT_EQ(m_frame->testForm()->itemTextOnGui(FormId::CommStatus), QStringLiteral("通信故障"));
    m_frame->command(CMainFrame::ID_USERS)->trigger();
    EXPECT_EQ(script.seen(), (QStringList{"CCommDlg", "CUserDlg"}));
}

TEST_F(MainFrameTest, TheSupportBoxIsTheSameWithOrWithoutATestWindow) {
    QStringList contents;
    auto look = [&contents](CSupportDlg* d) {
        QStringList texts{d->windowTitle()};
        for (QLabel* l : d->findChildren<QLabel*>())
            if (!l->text().trimmed().isEmpty()) texts << l->text();
        contents << texts.join("|");
        static_cast<QPushButton*>(d->item(1))->click();
    };
    ModalScript without;
    without.then<CSupportDlg>(look);
    m_frame->command(CMainFrame::ID_SUPPORT)->trigger();
    openTestWindow();
    ModalScript with;
    with.then<CSupportDlg>(look);
    m_frame->command(CMainFrame::ID_SUPPORT)->trigger();
    ASSERT_EQ(contents.size(), 2);
    EXPECT_EQ(contents[0], contents[1]);
    EXPECT_TRUE(contents[0].startsWith(QStringLiteral("关于 Zel|Zel 1.0 版|")));
}

// The colour of the picture stretched to `size`, at `at`, against the widget's pixel.
void expectStretched(const QImage& shown, const QPoint& at) {
    const QImage picture = BackgroundPicture().toImage();
    const QPoint source(at.x() * picture.width() / shown.width(),
                        at.y() * picture.height() / shown.height());
    const QColor want = picture.pixelColor(source), got = shown.pixelColor(at);
    EXPECT_NEAR(got.red(), want.red(), 24) << at.x() << "," << at.y();
    EXPECT_NEAR(got.green(), want.green(), 24) << at.x() << "," << at.y();
    EXPECT_NEAR(got.blue(), want.blue(), 24) << at.x() << "," << at.y();
}

TEST(BackgroundWnd, ThePictureIsStretchedOverTheWholeAreaAtEverySize) {
    ASSERT_EQ(BackgroundPicture().size(), QSize(1280, 800));
    CBackgroundWnd client;
    client.show();
    for (const QSize& size : {QSize(640, 400), QSize(300, 700), QSize(1400, 500)}) {
        client.resize(size);
        QCoreApplication::processEvents();
        const QImage shown = client.viewport()->grab().toImage();
        ASSERT_EQ(shown.size(), size);
        // The specimen row at the bottom and the traces in the middle land where the
        // stretched picture puts them.
        for (const QPoint& p : {QPoint(0, 0), QPoint(size.width() - 1, size.height() - 1),
                                QPoint(size.width() / 2, size.height() * 3 / 4),
                                QPoint(size.width() * 90 / 1280, size.height() * 738 / 800)})
            expectStretched(shown, p);
    }
}

}  // namespace
