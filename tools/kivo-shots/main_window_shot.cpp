#include "main_window_shot.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "accounts/login_dialog.h"
#include "app/main_frame.h"
#include "mid_test.h"
#include "monitor/testclass.h"
#include "run/param_dialog.h"
#include "state/test_state.h"
#include "shot_folder.h"
#include "shots.h"

namespace {

// Answers the dialogs of "新建实验" as an operator would: the password, then the
// parameters of the pictures' test.
void AnswerNewTestDialogs() {
    QWidget* w = QApplication::activeModalWidget();
    if (auto* login = qobject_cast<CLoginDlg*>(w)) {
        static_cast<QLineEdit*>(login->item(CLoginDlg::IdPassword))->setText("579");
        static_cast<QPushButton*>(login->item(1))->click();
    } else if (auto* parameters = qobject_cast<CParamDlg*>(w)) {
        auto field = [parameters](int id) { return static_cast<QLineEdit*>(parameters->item(id)); };
        field(CParamDlg::IdTester)->setText(g_strTester);
        field(CParamDlg::IdOrganisation)->setText(g_strOrganisation);
        field(CParamDlg::IdTestMinutes)->setText(QString::number(g_nTestMinutes));
        field(CParamDlg::IdRecordInterval)->setText(QString::number(g_nRecordInterval));
        static_cast<QPushButton*>(parameters->item(1))->click();
    } else if (auto* dialog = qobject_cast<QDialog*>(w)) {
        dialog->reject();
    }
}

}  // namespace

QImage RenderMainWindowOfSize(QSize size, const std::function<void(Testclass&)>& arrange) {
    ShotProgramFolder folder;
    if (!folder.ok()) return {};
    SetShotTestParameters();
    NoInstrument noInstrument;
    QImage image;
    {
        CMainFrame main;
        main.setAttribute(Qt::WA_DeleteOnClose, false);
        main.resize(size);
        main.show();
        main.activateWindow();
        Settle();

        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, &AnswerNewTestDialogs);
        answer.start(5);
        main.OnCommand(CMainFrame::ID_NEW_TEST);
        answer.stop();
        Testclass* form = main.testForm();
        if (form == nullptr) return {};
        FillTwoHoursIn(*form);
        Settle();
        if (arrange) arrange(*form);
        Settle();
        image = main.grab().toImage();
        EndPretendedTest();
    }
    Settle();
    return image;
}

QImage RenderMainWindow() { return RenderMainWindowOfSize(QSize(1280, 800), {}); }
