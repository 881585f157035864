// A whole six-hour test against the virtual instrument with a faulty line: late, split and
// garbled replies throughout, and a silent stretch that stops the test until the operator
// starts it again. The instrument's model runs KIVO_SOAK_SPEED times faster than the wall
// clock (default 240: about a minute and a half); the program's timers follow it. The reply
// waits of the command cycle stay real time.
//
//   KIVO_SOAK_SPEED=1 KIVO_SOAK_INTERVAL=5 ctest --test-dir build/asan -L soak   (six hours)

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "app/polling_timers.h"
#include "export/chart_bitmap.h"
#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/testclass.h"
#include "platform/gbk_codec.h"
#include "platform/time_scale.h"
#include "state/test_state.h"
#include "support/run_harness.h"
#include "support/scripted_dialogs.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTestMinutes = 360;
constexpr int kSilenceAfterMinutes = 120;
// Longer than the first wait and six repeats of a second each, so the cycle gives up.
constexpr int kSilenceSeconds = 12;

int EnvInt(const char* name, int fallback, int low, int high) {
    const QByteArray text = qgetenv(name);
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= low && value <= high ? value : fallback;
}

class FaultyInstrument {
  public:
    FaultyInstrument(const QString& link, const QString& log, int speed) {
        const std::string sim = std::string(KIVO_BINARY_DIR) + "/tools/kivo-sim/kivo-sim";
        std::vector<std::string> args = {
            sim, "--link", link.toStdString(), "--log", log.toStdString(), "--speed",
            std::to_string(speed), "--seed", "7",
            // Mostly well inside the second the cycle waits,
            // now and then beyond it.
            "--late", "300:1150", "--split", "--garbage", "--fault-rate", "0.15",
            "--silence-after-minutes", std::to_string(kSilenceAfterMinutes),
            "--silence-for-seconds", std::to_string(kSilenceSeconds)};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, sim.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
    }
    ~FaultyInstrument() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
    bool running() const { return m_pid > 0; }

  private:
    pid_t m_pid = -1;
};

// Ends the process when the run takes far longer than it should: a hang is a failure.
class Watchdog {
  public:
    explicit Watchdog(std::chrono::seconds limit)
        : m_thread([this, limit] {
              std::unique_lock lock(m_mutex);
              if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
                  std::fprintf(stderr, "soak: no end after %lld s\n",
                               static_cast<long long>(limit.count()));
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

double Number(const QString& text) { return text.left(text.indexOf('(')).toDouble(); }

TEST(Soak, SixHourTestOnAFaultyLineKeepsEveryRecord) {
    const int speed = EnvInt("KIVO_SOAK_SPEED", 240, 1, 1000);
    const int interval = EnvInt("KIVO_SOAK_INTERVAL", 1, 1, 60);
    const double expectedWallS = kTestMinutes * 60.0 / speed;
    Watchdog watchdog(std::chrono::seconds(static_cast<int>(3 * expectedWallS) + 240));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath("com1");
    const QString log = dir.filePath("requests.log");
    FaultyInstrument instrument(link, log, speed);
    ASSERT_TRUE(instrument.running());
    ASSERT_TRUE(PumpUntil([&] { return QFile::exists(link); }));

    ResetTestStateForTests();
    qputenv("KIVO_COM1", link.toLocal8Bit());
    TimeScale::setFactor(speed);
    g_nTestMinutes = kTestMinutes;
    g_nRecordInterval = interval;
    g_bLinkActive = 1;
    ScriptedMessageBoxes boxes;
    ScriptedFileDialogs files;
    // The chart files are written; the report is left out (the office tests cover it).
    files.answer({dir.filePath("soak.BMP"), QString(), dir.filePath("soak.bln")});
    PollingTimers timers;
    const auto wallStart = Clock::now();
    int segments = 0;
    double runningProgramMs = 0;
    {
        Testclass form;
        form.OnInitialUpdate();
        ASSERT_EQ(boxes.count(), 0) << boxes.texts().join(' ').toStdString();

        // The initialisation check may meet a reply too late; the operator tries again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            form.OnDeviceInit();
            // Either the start is ready or the check failed and 设备初试化 is back.
            PumpUntil([&] {
                return form.item(FormId::StartButton)->isEnabled() ||
                       form.item(FormId::InitButton)->isEnabled();
            });
            if (form.item(FormId::StartButton)->isEnabled()) break;
        }
        ASSERT_TRUE(form.item(FormId::StartButton)->isEnabled())
            << boxes.texts().join(' ').toStdString();
        boxes.clear();

        // Runs the test to its end, pressing "开始实验" again whenever a failure stopped it,
        // after waiting long enough for the silent stretch to be over.
        auto finished = [&] { return form.itemTextOnGui(FormId::RemainingMinutes) == "完成"; };
        bool running = false;
        Clock::time_point segmentStart, pausedAt;
        int pauses = 0;
        const bool ended = PumpUntil(
            [&] {
                const bool testing = g_bTesting.load() != 0;
                const auto now = Clock::now();
                if (running && !testing) {
                    running = false;
                    runningProgramMs +=
                        std::chrono::duration<double, std::milli>(now - segmentStart).count() *
                        speed;
                    pausedAt = now;
                    if (!finished()) ++pauses;
                }
                if (finished()) return true;
                if (!running &&
                    (segments == 0 || now - pausedAt > std::chrono::seconds(kSilenceSeconds))) {
                    form.OnStartTest();
                    running = true;
                    ++segments;
                    segmentStart = now;
                }
                return false;
            },
            static_cast<int>(3 * expectedWallS * 1000) + 120000);
        ASSERT_TRUE(ended) << boxes.texts().join(' ').toStdString();
        ASSERT_TRUE(
            PumpUntil([&] { return boxes.texts().contains("请确认是否保存数据！"); }, 60000));
        if (running)
            runningProgramMs +=
                std::chrono::duration<double, std::milli>(Clock::now() - segmentStart).count() *
                speed;
        EXPECT_TRUE(PumpUntil(
            [] {
                LinkThreads::joinFinished();
                return LinkThreads::count() == 0;
            },
            30000));

        // The silent stretch stopped the test with a message and the operator resumed it.
        EXPECT_GE(pauses, 1);
        EXPECT_GE(segments, 2);
        EXPECT_TRUE(boxes.texts().join(' ').contains("通信失败"))
            << boxes.texts().join(' ').toStdString();

        const int rows = form.historyRowCount(0);
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        std::printf(
            "soak: speed %d, interval %d min, %d records, %d runs of the test, "
            "%.1f s wall, peak RSS %.1f MiB\n",
            speed, interval, rows, segments,
            std::chrono::duration<double>(Clock::now() - wallStart).count(),
            usage.ru_maxrss / 1024.0);

        // The history: numbered 1..n without gaps, the same rows on every channel, charges
        // that never fall. Only records taken before the first channel poll had all its
        // answers may lack a reading (at high speed a late reply makes that poll outlast a
        // few records); once a reading is there, every later record has one.
        for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
            ASSERT_EQ(form.historyRowCount(slot), rows) << "channel " << slot + 1;
            double lastCharge = 0;
            bool hadCurrent = false, hadCharge = false;
            for (int r = 0; r < rows; ++r) {
                ASSERT_EQ(form.historyCell(slot, r, HistoryColumn::RecordNo),
                          QString::number(r + 1));
                const QString current = form.historyCell(slot, r, HistoryColumn::Current);
                const QString charge = form.historyCell(slot, r, HistoryColumn::Charge);
                const std::string where = "channel " + std::to_string(slot + 1) + " row " +
                                          std::to_string(r + 1) + ": " + current.toStdString() +
                                          " " + charge.toStdString();
                hadCurrent = hadCurrent || !current.isEmpty();
                hadCharge = hadCharge || !charge.isEmpty();
                EXPECT_TRUE(hadCurrent ? current.endsWith("(mA)") : r < rows / 10) << where;
                EXPECT_TRUE(hadCharge ? charge.endsWith("(C)") : r < rows / 10) << where;
                if (!hadCharge) continue;
                EXPECT_GE(Number(charge), lastCharge) << where;
                lastCharge = Number(charge);
            }
        }
        EXPECT_EQ(g_nLastRecord.load(), static_cast<uint32_t>(rows - 1));
        // Every record the timers asked for while the test ran: one 5 s after each start,
        // then one per interval, and the last at the end (each one the program numbered is in
        // the history, checked above). At this speed a loaded machine merges expiries of the
        // fast timer, a few in a hundred with two other test runs beside this one, which a
        // bench's minutes never do: the bound allows for them and still catches a stretch
        // of the test gone unrecorded.
        const double intervalMs = interval * 60000.0;
        const double expected =
            segments + std::max(0.0, runningProgramMs - segments * 5000.0) / intervalMs + 1;
        EXPECT_GE(rows, static_cast<int>(expected * 0.9) - 2 * segments)
            << "expected " << expected;
        EXPECT_LE(rows, static_cast<int>(expected) + 2 * segments) << "expected " << expected;
        EXPECT_GE(rows, kTestMinutes / interval / 2);

        // The exports: nine chart files, and a text file that holds the history as shown.
        for (int channel = 1; channel <= CHART_EXPORT_CHANNELS; ++channel) {
            const QFileInfo bitmap(ChartBitmapPath(dir.filePath("soak"), channel));
            EXPECT_TRUE(bitmap.isFile() && bitmap.size() > 1000) << channel;
        }
        form.OnSaveText();
        QFile text(dir.filePath("soak.bln"));
        ASSERT_TRUE(text.open(QIODevice::ReadOnly));
        const QStringList lines = gbk::decode(text.readAll()).split("\r\n");
        ASSERT_EQ(lines.size(), rows + 2);  // header, one line a record, empty after the last
        EXPECT_TRUE(lines.back().isEmpty());
        for (int r = 0; r < rows; ++r) {
            const QStringList entries = lines[r + 1].split(':');
            ASSERT_EQ(entries.size(), CHANNELS_IN_USE + 1) << lines[r + 1].toStdString();
            for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
                const QString want = form.historyCell(slot, r, HistoryColumn::RecordNo) + "+" +
                                     form.historyCell(slot, r, HistoryColumn::Current) + "+" +
                                     form.historyCell(slot, r, HistoryColumn::Charge);
                ASSERT_EQ(entries[slot], want) << "record " << r + 1;
            }
        }
    }
    TimeScale::setFactor(1);
    qunsetenv("KIVO_COM1");

    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString requests = QString::fromLatin1(file.readAll());
    EXPECT_GE(requests.count("01W071 1111"), 2);
    EXPECT_TRUE(requests.contains("00W071 0000"));
}

}  // namespace
