// The history window over a large archive: opening the list of 5 000 tests (from the menu
// command to the model filled and the window shown) and opening one six-hour test (72
// records, 10 800 polls) in view mode (from the command to the form shown with its records,
// chart and result). Each is timed over several runs; the median and the slowest are set
// against the limit.
//
//   history_bench [runs]      (default 9)

#include <sqlite3.h>

#include <QApplication>
#include <QDateTime>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/main_frame.h"
#include "archive/archive_reader.h"
#include "archive/archive_writer.h"
#include "event_loop.h"
#include "history/history_window.h"
#include "history/test_list_model.h"
#include "monitor/testclass.h"
#include "platform/program_folder.h"
#include "run/archive_session.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTests = 5000;
constexpr int kRecords = 72;   // six hours, one record every 5 minutes
constexpr int kPolls = 10800;  // six hours, one poll every 2 seconds
constexpr double kListLimitMs = 300.0;
constexpr double kViewLimitMs = 500.0;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// One six-hour test, written as the program writes it.
void WriteSixHourTest(const QString& path) {
    archive::ArchiveWriter writer(path, [](const QString& message) {
        std::fprintf(stderr, "archive: %s\n", qPrintable(message));
    });
    const qint64 t0 = QDateTime(QDate(2026, 12, 8), QTime(8, 0, 0)).toMSecsSinceEpoch();
    archive::TestHeader h;
    h.uid = QStringLiteral("6b0c0000-0000-4000-8000-000000000001");
    h.testDate = QStringLiteral("2026-12-8");
    h.startTime = QStringLiteral("08:00:00");
    h.startedAtMs = t0;
    h.user = QStringLiteral("admin");
    h.voltage = QStringLiteral("60");
    h.testMinutes = 360;
    h.recordInterval = 5;
    h.diameter = 100;
    h.tester = QStringLiteral("王建国");
    h.organisation = QStringLiteral("市建设工程质量检测中心");
    writer.beginTest(h);
    auto current = [](int ch, int minute) { return 80.0 + 10 * ch + minute / 20.0; };
    auto charge = [&](int ch, double minutes) { return current(ch, 0) * minutes * 0.06; };
    int record = 0;
    for (int p = 0; p < kPolls; ++p) {
        const double minutes = p * 2 / 60.0;
        archive::PollRow poll;
        poll.atMs = t0 + qint64(p) * 2000;
        poll.minutes = int(minutes);
        poll.voltage = QStringLiteral("60.0");
        poll.temperature = QStringLiteral("25.0");
        for (int ch = 0; ch < 6; ++ch) {
            poll.current[ch] = QString::asprintf("%.2f(mA)", current(ch, int(minutes)));
            poll.charge[ch] = QString::asprintf("%.1f(C)", charge(ch, minutes));
        }
        writer.addPoll(h.uid, poll);
        if (p % 150 == 2 && record < kRecords) {
            archive::RecordRow r;
            r.number = ++record;
            r.minutes = poll.minutes;
            r.temperature = poll.temperature;
            r.atMs = poll.atMs;
            r.current = poll.current;
            r.charge = poll.charge;
            writer.addRecord(h.uid, r);
        }
    }
    writer.changeState(h.uid, archive::TestState::FinishedByMinutes, t0 + 6 * 3600000);
    writer.changeState(h.uid, archive::TestState::Closed, t0 + 6 * 3600000 + 1);
    writer.flush(600000);
}

// Copies the test's row kTests - 1 times, each a few hours earlier and by another tester,
// in one transaction. The list reads nothing else of a test.
bool CloneTests(const QString& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK) return false;
    std::vector<std::string> columns;
    sqlite3_stmt* info = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA table_info(test)", -1, &info, nullptr);
    while (sqlite3_step(info) == SQLITE_ROW)
        columns.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(info, 1)));
    sqlite3_finalize(info);
    std::string names, values;
    for (const std::string& c : columns) {
        if (c == "id") continue;
        std::string value = c;
        if (c == "uid") value = "uid || '-' || n.i";
        if (c == "started_at_ms" || c == "changed_at_ms") value = c + " - n.i * 7200000";
        if (c == "test_date")
            value =
                "strftime('%Y-', started_at_ms / 1000 - n.i * 7200, 'unixepoch') || "
                "CAST(strftime('%m', started_at_ms / 1000 - n.i * 7200, 'unixepoch') AS "
                "INTEGER) || '-' || CAST(strftime('%d', started_at_ms / 1000 - n.i * 7200, "
                "'unixepoch') AS INTEGER)";
        if (c == "tester") value = "tester || (n.i % 37)";
        if (c == "organisation") value = "organisation || (n.i % 11)";
        names += (names.empty() ? "" : ", ") + c;
        values += (values.empty() ? "" : ", ") + value;
    }
    const std::string sql =
        "BEGIN; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(kTests - 1) + ") INSERT INTO test (" + names + ") SELECT " + values +
        " FROM test, n WHERE test.id = (SELECT MIN(id) FROM test); COMMIT;";
    char* error = nullptr;
    const bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK;
    if (!ok) std::fprintf(stderr, "clone: %s\n", error);
    sqlite3_free(error);
    sqlite3_close(db);
    return ok;
}

struct Figures {
    double first = 0, median = 0, slowest = 0;
};

Figures Summarise(std::vector<double> ms) {
    Figures f;
    f.first = ms.front();
    std::sort(ms.begin(), ms.end());
    f.median = ms[ms.size() / 2];
    f.slowest = ms.back();
    return f;
}

void Print(const char* what, const Figures& f, double limit) {
    std::printf("%-36s %9.1f %9.1f %9.1f %9.1f %7.2f\n", what, f.first, f.median, f.slowest, limit,
                f.slowest / limit);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    QApplication app(argc, argv);
    QTemporaryDir dir;
    ProgramFolder::setForTests(dir.path());
    const QString path = dir.filePath(QStringLiteral("kivo.sqlite"));

    const auto made = Clock::now();
    WriteSixHourTest(path);
    if (!CloneTests(path)) return 1;
    QString message;
    const auto reader = archive::ArchiveReader::open(path, &message);
    const std::vector<archive::TestSummary> all = reader ? reader->listTests() : decltype(all){};
    if (all.size() != size_t(kTests)) {
        std::fprintf(stderr, "the archive holds %zu tests\n", all.size());
        return 1;
    }
    // The test written first; the copies came after it.
    qint64 sixHourId = all.front().id;
    for (const archive::TestSummary& t : all) sixHourId = std::min(sixHourId, t.id);
    std::printf("archive: %d tests, one of %d records and %d polls (made in %.1f s)\n\n", kTests,
                kRecords, kPolls, Ms(Clock::now() - made) / 1000);

    ArchiveSession::open(path);
    auto* frame = new CMainFrame;
    frame->resize(1280, 800);
    frame->show();
    runFor(200);

    std::vector<double> list, view;
    for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        frame->OnCommand(CMainFrame::ID_HISTORY);
        HistoryWindow* window = frame->historyWindow();
        QApplication::processEvents();  // laid out and painted
        list.push_back(Ms(Clock::now() - start));
        if (window->model()->rowCount() != kTests || !window->isVisible()) {
            std::fprintf(stderr, "the list shows %d tests\n", window->model()->rowCount());
            return 1;
        }
        window->hide();
        runFor(20);
    }
    for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        if (!frame->OpenArchivedTest(sixHourId)) return 1;
        QApplication::processEvents();
        view.push_back(Ms(Clock::now() - start));
        Testclass* form = frame->testForm();
        if (form == nullptr || form->historyRowCount(0) != kRecords) {
            std::fprintf(stderr, "the view window shows no test\n");
            return 1;
        }
        frame->CloseTestWindow();
        runUntil([&] { return frame->testForm() == nullptr; }, 5000, 5);
    }

    std::printf("%-36s %9s %9s %9s %9s %7s\n", "ms", "first", "median", "slowest", "limit",
                "ratio");
    Print("list of 5 000 tests shown", Summarise(list), kListLimitMs);
    Print("six-hour test shown in view mode", Summarise(view), kViewLimitMs);
    delete frame;
    ArchiveSession::close();
    ProgramFolder::setForTests(QString());
    return 0;
}
