#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "accounts/login_dialog.h"
#include "app/main_frame.h"
#include "archive/archive_writer.h"
#include "mid_test.h"
#include "past_tests.h"
#include "platform/message_box.h"
#include "run/archive_session.h"
#include "shot_folder.h"
#include "shots.h"

namespace {

// A test whose program died two hours and a quarter into it: 28 records, one every five
// minutes, and the polls between them.
void WriteInterruptedTest(const QString& path) {
    archive::ArchiveWriter writer(path, [](const QString&) {});
    const PastTest died = {"2026-12-8", "08:12:40", "李明", "市建设工程质量检测中心", 360, 135,
                           100, 90, archive::TestState::Running};
    WritePastTest(writer, died, QStringLiteral("5b0c0000-0000-4000-8000-0000000000aa"), 1);
    writer.flush(60000);
}

// The main window with the question of "新建实验" over it, as a window manager centres it.
QImage Compose(const QImage& main, const QImage& box) {
    QImage image = main;
    QPainter painter(&image);
    const QPoint at((main.width() - box.width()) / 2, (main.height() - box.height()) / 2);
    painter.fillRect(QRect(at + QPoint(4, 4), box.size()), QColor(0, 0, 0, 60));  // shadow
    painter.drawImage(at, box);
    painter.setPen(QColor(0x70, 0x70, 0x70));
    painter.drawRect(QRect(at, box.size()).adjusted(-1, -1, 0, 0));
    return image;
}

}  // namespace

QImage RenderRecoveryQuestion() {
    ShotProgramFolder folder;
    QTemporaryDir dir;
    if (!folder.ok() || !dir.isValid()) return {};
    const QString path = dir.filePath(QStringLiteral("kivo.sqlite"));
    WriteInterruptedTest(path);
    ArchiveSession::open(path);
    // The program's own box, not a stand-in: the shot answers it once it has taken it.
    MessageBox::setResponder(nullptr);
    QImage image;
    {
        CMainFrame main;
        main.setAttribute(Qt::WA_DeleteOnClose, false);
        main.resize(1024, 640);
        main.show();
        Settle();
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            QWidget* w = QApplication::activeModalWidget();
            if (auto* login = qobject_cast<CLoginDlg*>(w)) {
                static_cast<QLineEdit*>(login->item(CLoginDlg::IdPassword))->setText("579");
                static_cast<QPushButton*>(login->item(1))->click();
            } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
                if (image.isNull()) image = Compose(main.grab().toImage(), box->grab().toImage());
                box->escapeButton()->click();  // "以后再说"
            } else if (auto* dialog = qobject_cast<QDialog*>(w)) {
                dialog->reject();
            }
        });
        answer.start(20);
        main.OnCommand(CMainFrame::ID_NEW_TEST);
        answer.stop();
    }
    Settle();
    MessageBox::setResponder(&AnswerOk);
    ArchiveSession::close();
    return image;
}
