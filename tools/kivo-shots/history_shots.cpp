#include <QTableView>
#include <QTemporaryDir>

#include "app/main_frame.h"
#include "archive/archive_writer.h"
#include "history/history_window.h"
#include "history/test_list_model.h"
#include "mid_test.h"
#include "past_tests.h"
#include "run/archive_session.h"
#include "shot_folder.h"
#include "shots.h"
#include "state/test_state.h"

namespace {

// Six weeks of a lab's tests, newest first as the list shows them.
constexpr PastTest kTests[] = {
    {"2026-12-8", "08:12:40", "李明", "市建设工程质量检测中心", 360, 360, 100, 95,
     archive::TestState::FinishedByMinutes},
    {"2026-12-4", "13:05:12", "王建国", "市建设工程质量检测中心", 360, 360, 100, 180,
     archive::TestState::FinishedByMinutes},
    {"2026-12-2", "09:30:05", "张丽", "交通科学研究院", 360, 215, 100, 120,
     archive::TestState::Closed},
    {"2026-11-27", "08:45:51", "李明", "市建设工程质量检测中心", 360, 360, 95, 52,
     archive::TestState::FinishedByMinutes},
    {"2026-11-24", "14:20:33", "赵强", "某大学土木工程实验室", 360, 300, 100, 140,
     archive::TestState::FinishedByInstrument},
    {"2026-11-19", "10:02:18", "王建国", "市建设工程质量检测中心", 360, 360, 100, 30,
     archive::TestState::FinishedByMinutes},
    {"2026-11-13", "08:58:07", "张丽", "交通科学研究院", 360, 360, 100, 210,
     archive::TestState::FinishedByMinutes},
    {"2026-11-6", "09:16:44", "李明", "市建设工程质量检测中心", 360, 95, 100, 88,
     archive::TestState::Interrupted},
    {"2026-10-30", "13:40:29", "赵强", "某大学土木工程实验室", 360, 360, 100, 8,
     archive::TestState::FinishedByMinutes},
};

// The tests above in a new archive at `path`, each with a record every five minutes and a
// poll a minute (the pictures need no more).
void WritePastTests(const QString& path) {
    archive::ArchiveWriter writer(path, [](const QString&) {});
    int n = 0;
    for (const PastTest& t : kTests) {
        const QString uid =
            QStringLiteral("5b0c0000-0000-4000-8000-%1").arg(++n, 12, 10, QChar(u'0'));
        const qint64 endedAtMs = WritePastTest(writer, t, uid, n);
        if (t.end != archive::TestState::Closed) writer.changeState(uid, t.end, endedAtMs);
        writer.changeState(uid, archive::TestState::Closed, endedAtMs + 1000);
    }
    writer.flush(60000);
}

// The main window with the archive of the past tests, its history window open.
template <class Grab>
QImage WithHistory(QSize size, Grab grab) {
    ShotProgramFolder folder;
    QTemporaryDir dir;
    if (!folder.ok() || !dir.isValid()) return {};
    SetShotTestParameters();
    const QString path = dir.filePath(QStringLiteral("kivo.sqlite"));
    WritePastTests(path);
    ArchiveSession::open(path);
    QImage image;
    {
        CMainFrame main;
        main.setAttribute(Qt::WA_DeleteOnClose, false);
        main.resize(size);
        main.show();
        Settle();
        main.OnCommand(CMainFrame::ID_HISTORY);
        Settle();
        image = grab(main);
    }
    Settle();
    ArchiveSession::close();
    return image;
}

}  // namespace

QImage RenderHistoryWindow() {
    return WithHistory(QSize(1280, 800), [](CMainFrame& main) {
        HistoryWindow* window = main.historyWindow();
        // Wide enough for every column, the result group included.
        int width = 40;
        for (int c = 0; c < TestListModel::ColumnCount; ++c)
            width += window->view()->columnWidth(c);
        window->resize(width, 400);
        window->selectTest(window->model()->test(1).id);
        Settle();
        return window->grab().toImage();
    });
}

QImage RenderHistoryView() {
    return WithHistory(QSize(1280, 960), [](CMainFrame& main) {
        HistoryWindow* window = main.historyWindow();
        window->selectTest(window->model()->test(0).id);
        window->openSelected();
        Settle();
        QImage image = main.grab().toImage();
        main.CloseTestWindow();
        return image;
    });
}
