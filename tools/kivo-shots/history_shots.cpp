#include <QDateTime>
#include <QTableView>
#include <QTemporaryDir>
#include <QtMath>

#include "app/main_frame.h"
#include "archive/archive_writer.h"
#include "history/history_window.h"
#include "history/test_list_model.h"
#include "mid_test.h"
#include "run/archive_session.h"
#include "shot_folder.h"
#include "shots.h"
#include "state/test_state.h"

namespace {

struct PastTest {
    const char* date;
    const char* start;
    const char* tester;
    const char* organisation;
    int minutes;     // the test's duration
    int ranMinutes;  // how far it got
    int diameter;
    double mA;  // the channels' starting current around this
    archive::TestState end;
};

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

double CurrentAt(const PastTest& t, int slot, int minute) {
    static const double spread[] = {1.0, 1.12, 0.91, 1.05, 0.96, 1.08};
    const double warming = 1.0 + 0.18 * (1.0 - qExp(-minute / 90.0));
    return t.mA * spread[slot] * warming + 0.4 * qSin(minute / 7.0 + slot);
}

// The tests above in a new archive at `path`, each with a record every five minutes and a
// poll a minute (the pictures need no more).
void WritePastTests(const QString& path) {
    archive::ArchiveWriter writer(path, [](const QString&) {});
    int n = 0;
    for (const PastTest& t : kTests) {
        archive::TestHeader h;
        h.uid = QStringLiteral("5b0c0000-0000-4000-8000-%1").arg(++n, 12, 10, QChar(u'0'));
        h.testDate = QString::fromUtf8(t.date);
        h.startTime = QString::fromUtf8(t.start);
        h.startedAtMs = QDateTime(QDate::fromString(h.testDate, QStringLiteral("yyyy-M-d")),
                                  QTime::fromString(h.startTime, QStringLiteral("HH:mm:ss")))
                            .toMSecsSinceEpoch();
        h.user = QStringLiteral("admin");
        h.voltage = QStringLiteral("60.0");
        h.testMinutes = t.minutes;
        h.recordInterval = 5;
        h.diameter = t.diameter;
        h.tester = QString::fromUtf8(t.tester);
        h.organisation = QString::fromUtf8(t.organisation);
        for (int i = 0; i < 6; ++i) h.specimenNo[i] = QStringLiteral("C%1-%2").arg(n).arg(i + 1);
        writer.beginTest(h);
        double charge[6] = {};
        int record = 0;
        for (int minute = 0; minute <= t.ranMinutes; ++minute) {
            archive::PollRow poll;
            poll.atMs = h.startedAtMs + qint64(minute) * 60000 + 5000;
            poll.minutes = minute;
            poll.voltage = QStringLiteral("60.1");
            poll.temperature = QString::number(22.0 + minute / 60.0, 'f', 1);
            for (int slot = 0; slot < 6; ++slot) {
                const double mA = CurrentAt(t, slot, minute);
                if (minute > 0) charge[slot] += mA / 1000.0 * 60.0;
                poll.current[slot] = QString::number(mA, 'f', 1) + QStringLiteral("(mA)");
                poll.charge[slot] = QString::number(charge[slot], 'f', 1) + QStringLiteral("(C)");
            }
            writer.addPoll(h.uid, poll);
            if (minute % 5 == 0) {
                archive::RecordRow r;
                r.number = ++record;
                r.minutes = minute;
                r.temperature = poll.temperature;
                r.atMs = poll.atMs;
                r.current = poll.current;
                r.charge = poll.charge;
                writer.addRecord(h.uid, r);
            }
        }
        if (t.end != archive::TestState::Closed)
            writer.changeState(h.uid, t.end, h.startedAtMs + qint64(t.ranMinutes) * 60000);
        writer.changeState(h.uid, archive::TestState::Closed,
                           h.startedAtMs + qint64(t.ranMinutes) * 60000 + 1000);
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
