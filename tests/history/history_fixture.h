#pragma once

#include <gtest/gtest.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include "app/kivo_app.h"
#include "archive/archive_reader.h"
#include "archive/archive_writer.h"
#include "history/history_window.h"
#include "history/test_list_filter.h"
#include "history/test_list_model.h"
#include "link/link_threads.h"
#include "platform/program_folder.h"
#include "shell/modal_script.h"
#include "state/test_state.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"
#include "support/unique_uid.h"

// A test as the archive keeps it, made up for the history window's tests.
struct MadeTest {
    QString uid;
    QString date = QStringLiteral("2026-12-8");
    QString start = QStringLiteral("08:05:09");
    QString tester = QStringLiteral("王建国");
    QString organisation = QStringLiteral("市建设工程质量检测中心");
    int minutes = 360, interval = 5, diameter = 100;
    int records = 3;
    int pollsPerRecord = 2;
    double chargeBase = 1000;  // the last record's charge of channel 1; the others a step up
    std::array<uint8_t, 6> off{};
    archive::TestState end = archive::TestState::FinishedByMinutes;
    qint64 startedAtMs = 0;  // from the date and start time when 0
};

inline qint64 StartOf(const MadeTest& t) {
    if (t.startedAtMs != 0) return t.startedAtMs;
    return QDateTime(QDate::fromString(t.date, "yyyy-M-d"), QTime::fromString(t.start, "HH:mm:ss"))
        .toMSecsSinceEpoch();
}

// Writes `tests` into the archive at `path` as the program would have; each record's
// charges grow to chargeBase (+100 a channel) at the last one.
inline void WriteTests(const QString& path, std::vector<MadeTest>& tests) {
    archive::ArchiveWriter writer(
        path, [](const QString& message) { ADD_FAILURE() << message.toStdString(); });
    for (MadeTest& t : tests) {
        if (t.uid.isEmpty()) t.uid = UniqueUid();
        archive::TestHeader h;
        h.uid = t.uid;
        h.testDate = t.date;
        h.startTime = t.start;
        h.startedAtMs = StartOf(t);
        h.user = QStringLiteral("admin");
        h.portName = QStringLiteral("COM1");
        h.voltage = QStringLiteral("60");
        h.testMinutes = t.minutes;
        h.recordInterval = t.interval;
        h.diameter = t.diameter;
        h.tester = t.tester;
        h.organisation = t.organisation;
        for (int i = 0; i < 9; ++i) h.specimenNo[i] = QStringLiteral("S%1").arg(i + 1);
        h.channelOff = t.off;
        writer.beginTest(h);
        for (int r = 1; r <= t.records; ++r) {
            const qint64 at = h.startedAtMs + qint64(r) * t.interval * 60000;
            for (int p = 0; p < t.pollsPerRecord; ++p) {
                archive::PollRow poll;
                poll.atMs = at - 2000 * (t.pollsPerRecord - 1 - p);
                poll.minutes = r * t.interval;
                poll.voltage = QStringLiteral("59.9");
                poll.temperature = QStringLiteral("24.5");
                for (int c = 0; c < 6; ++c) {
                    if (t.off[c] != 0) continue;
                    poll.current[c] = QString::asprintf("%.2f(mA)", 100.0 + c + p);
                    poll.charge[c] =
                        QString::asprintf("%.1f(C)", (t.chargeBase + 100 * c) * r / t.records);
                }
                writer.addPoll(t.uid, poll);
            }
            archive::RecordRow record;
            record.number = r;
            record.minutes = r * t.interval;
            record.temperature = QStringLiteral("24.5");
            record.atMs = at;
            for (int c = 0; c < 6; ++c) {
                if (t.off[c] != 0) continue;
                record.current[c] = QString::asprintf("%.2f(mA)", 100.0 + c + r);
                record.charge[c] =
                    QString::asprintf("%.1f(C)", (t.chargeBase + 100 * c) * r / t.records);
            }
            writer.addRecord(t.uid, record);
        }
        writer.changeState(t.uid, t.end, h.startedAtMs + 1);
        if (t.end != archive::TestState::Running)
            writer.changeState(t.uid, archive::TestState::Closed, h.startedAtMs + 2);
    }
    ASSERT_TRUE(writer.flush(20000));
}

// The program with an archive of made-up tests, the history window at hand.
class HistoryFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ProgramFolder::setForTests(m_dir.path());
        ResetTestStateForTests();
        UseNoPort();
        m_archivePath = m_dir.filePath(QStringLiteral("kivo.sqlite"));
        qputenv("KIVO_ARCHIVE", m_archivePath.toLocal8Bit());
        // The tests point KIVO_SERVER at the server the history window reads and count what
        // it holds: the program's own sender is never to send the made tests there, however
        // soon after the start it reads its settings again.
        m_app.setServerSettings([] { return server::ServerSettings{}; });
    }
    void TearDown() override {
        m_app.ExitInstance();
        PumpOnce();
        LinkThreads::joinAll();
        ProgramFolder::setForTests(QString());
    }

    void start(std::vector<MadeTest> tests) {
        WriteTests(m_archivePath, tests);
        m_tests = tests;
        ASSERT_TRUE(m_app.InitInstance());
    }

    CMainFrame* frame() const { return m_app.mainFrame(); }
    Testclass* form() const { return frame()->testForm(); }
    // "历史实验" from the menu.
    HistoryWindow* history() {
        frame()->command(CMainFrame::ID_HISTORY)->trigger();
        PumpOnce();
        return frame()->historyWindow();
    }
    std::unique_ptr<archive::ArchiveReader> reader() const {
        QString message;
        auto r = archive::ArchiveReader::open(m_archivePath, &message);
        EXPECT_TRUE(r) << message.toStdString();
        return r;
    }
    qint64 idOf(const QString& uid) const {
        for (const archive::TestSummary& t : reader()->listTests())
            if (t.uid == uid) return t.id;
        return -1;
    }
    // The texts of column `column` of the list as shown, top to bottom.
    static QStringList column(HistoryWindow* w, int column) {
        QStringList texts;
        for (int r = 0; r < w->proxy()->rowCount(); ++r)
            texts << w->proxy()->index(r, column).data().toString();
        return texts;
    }
    // Opens test `uid` from the list in view mode.
    Testclass* view(const QString& uid) {
        HistoryWindow* w = history();
        EXPECT_TRUE(w->selectTest(idOf(uid)));
        w->openSelected();
        return form();
    }

    QTemporaryDir m_dir;
    QString m_archivePath;
    std::vector<MadeTest> m_tests;
    ScriptedMessageBoxes m_boxes;
    ScriptedFileDialogs m_files;
    FakeRunLink m_link;
    MainFrameRecorder m_frame;
    CKivoApp m_app;
};

// The rows of a CSV file as Python's csv module reads it (UTF-8 with its byte-order mark).
inline QJsonArray ReadCsvWithPython(const QString& path) {
    static const char* kRead = R"(
import csv, json, sys
with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:
    print(json.dumps(list(csv.reader(f))))
)";
    QProcess python;
    python.start("/usr/bin/python3", {"-c", kRead, path});
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        ADD_FAILURE() << python.readAllStandardError().toStdString();
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}
