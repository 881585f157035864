#include <QLineEdit>

#include "accounts/login_dialog.h"
#include "mid_test.h"
#include "shot_folder.h"
#include "shots.h"
#include "run/param_dialog.h"
#include "state/test_state.h"

QImage RenderLogin() {
    ShotProgramFolder folder;
    if (!folder.ok()) return {};
    CLoginDlg dialog;
    auto* password = static_cast<QLineEdit*>(dialog.item(CLoginDlg::IdPassword));
    password->setText(QStringLiteral("579"));
    dialog.show();
    password->deselect();
    Settle();
    const QImage image = dialog.grab().toImage();
    dialog.hide();
    return image;
}

QImage RenderParameters() {
    ResetTestStateForTests();
    CParamDlg dialog;
    auto field = [&dialog](int id) { return static_cast<QLineEdit*>(dialog.item(id)); };
    field(CParamDlg::IdTester)->setText(QStringLiteral("李明"));
    field(CParamDlg::IdOrganisation)->setText(QStringLiteral("市建设工程质量检测中心"));
    field(CParamDlg::IdTestMinutes)->setText(QStringLiteral("60"));
    dialog.show();
    // Every field shows the start of its text, as after a click elsewhere.
    for (QLineEdit* edit : dialog.findChildren<QLineEdit*>()) edit->setCursorPosition(0);
    Settle();
    const QImage image = dialog.grab().toImage();
    dialog.hide();
    return image;
}
