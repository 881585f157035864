#pragma once

#include <QMainWindow>
#include <QPointer>
#include <map>
#include <optional>

#include "app/child_frame.h"

class CBackgroundWnd;
class HistoryWindow;
class QAction;
class QLabel;
class Testclass;
struct ViewedTest;

// The main window "混凝土氯离子电通量测定仪": the menu, the status bar, the background
// picture and at most one test window. "新建实验" logs the user in and opens the test
// window; closing the program while a test window runs a test needs the password.
// "历史实验" shows the archive's tests; one of them can be shown in the test window in view
// mode, where nothing runs.
class CMainFrame : public QMainWindow {
    Q_OBJECT

  public:
    // Menu command ids.
    static constexpr int ID_NEW_TEST = 32771;
    static constexpr int ID_HISTORY = 32772;
    static constexpr int ID_COMM_PORT = 32784;
    static constexpr int ID_CLOSE_TEST = 32788;
    static constexpr int ID_USERS = 32789;
    static constexpr int ID_SUPPORT = 32790;
    static constexpr int ID_REPORT_PDF = 32791;
    static constexpr int ID_REPORT_PRINT = 32792;
    static constexpr int ID_GRADING = 32793;
    static constexpr int ID_LAB_SERVER = 32794;

    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The one main window, or null.
    static CMainFrame* instance();

    QAction* command(int id) const;
    CBackgroundWnd* client() const { return m_wndClient; }
    // The form of the test window, or null.
    Testclass* testForm() const;

    // "新建实验".
    void OnNewTest();
    // "历史实验": shows the one history window.
    void OnHistory();
    HistoryWindow* historyWindow() const;
    // Shows test `id` of the archive in the test window in view mode; refused, with a
    // message, while a test window is open. False when it is not shown.
    bool OpenArchivedTest(qint64 id);
    // Shows a test already read (from the archive, test `archiveId`, or from the lab server)
    // the same way.
    bool ShowViewedTest(ViewedTest viewed, std::optional<qint64> archiveId);
    // The archive id of the test the test window shows in view mode.
    std::optional<qint64> viewedTestId() const { return m_viewedTestId; }
    // "导出试验报告PDF" / "打印试验报告": the report of the test the test window shows, once
    // that test has ended.
    void OnTestReport(bool print);
    // 系统设置 → "结果评定".
    void OnGrading();
    // Runs menu command `id` as the menu does.
    void OnCommand(int id);
    // Closes the test window (the form's exit command); the form is destroyed with it.
    void CloseTestWindow();
    // The lab server's state in the status bar; an empty text hides it.
    void showServerStatus(const QString& text);
    QString serverStatusText() const;

    // The test window; null while there is none.
    QPointer<CChildFrame> m_pTestFrame;

  signals:
    // "实验室服务器" saved new settings.
    void serverSettingsChanged();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // Creates the test window for the parameters now set and runs the form's first update;
    // a view-only form opens no port.
    Testclass* openTestWindow(bool viewOnly = false);
    void buildMenu();
    void buildStatusBar();
    void updateCommands();
    void testFrameGone();
    // True when no test window is open; else says so and false.
    bool testWindowFree();

    CBackgroundWnd* m_wndClient = nullptr;
    std::map<int, QAction*> m_commands;
    QPointer<HistoryWindow> m_history;
    QLabel* m_serverStatus = nullptr;
    std::optional<qint64> m_viewedTestId;
};
