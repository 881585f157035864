// Peak memory of the program through a whole six-hour test recorded every minute: the test
// form shown (offscreen), the polling timers and the link against the virtual instrument,
// whose model runs `speed` times faster than the wall clock (the program's timers follow).
// Prints the peak resident set size (getrusage ru_maxrss) before and after the test.
//
//   six_hour_memory_bench [speed]      (default 240: about a minute and a half)

#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/polling_timers.h"
#include "event_loop.h"
#include "link/link_threads.h"
#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "platform/message_box.h"
#include "platform/time_scale.h"
#include "sim_process.h"
#include "state/test_state.h"

namespace {

constexpr double kLimitMiB = 100.0;

double peakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    const int speed = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 1000) : 240;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    int questions = 0;
    MessageBox::setResponder([&](QWidget*, const MessageBox::Request& request) {
        if (request.text.startsWith(QStringLiteral("请确认是否保存")))
            ++questions;
        else
            std::fprintf(stderr, "message: %s\n", request.text.toUtf8().constData());
        return MessageBox::Cancel;
    });

    char folder[] = "/tmp/kivo-memory-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    SimProcess sim;
    if (!StartSim(std::string(folder) + "/com1", {"--speed", std::to_string(speed)}, &sim)) {
        std::fprintf(stderr, "cannot start %s\n", SimProgram().c_str());
        StopSim(sim);
        return 1;
    }
    qputenv("KIVO_COM1", QByteArray::fromStdString(sim.link));
    TimeScale::setFactor(speed);

    g_nTestMinutes = 360;
    g_nRecordInterval = 1;
    g_bLinkActive = 1;
    const double before = peakRssMiB();
    double afterForm = 0;
    int rows = 0;
    bool ended = false;
    QElapsedTimer wall;
    {
        PollingTimers timers;
        Testclass form;
        form.resize(1280, 900);
        form.show();
        form.OnInitialUpdate();
        form.OnDeviceInit();
        if (runUntil([&] { return form.item(FormId::StartButton)->isEnabled(); }, 20000, 20)) {
            afterForm = peakRssMiB();
            wall.start();
            form.OnStartTest();
            ended = runUntil([&] { return questions >= 2; }, 360 * 60000 / speed * 3 + 60000, 20);
            rows = form.historyRowCount(0);
        } else {
            std::fprintf(stderr, "the initialisation check did not pass\n");
        }
        runFor(200);
    }
    LinkThreads::joinAll();
    StopSim(sim);
    rmdir(folder);

    const double peak = peakRssMiB();
    std::printf("Peak memory through a six-hour test (interval 1 min, speed %d, %.1f s wall)\n",
                speed, static_cast<double>(wall.elapsed()) / 1000.0);
    std::printf("%-36s %10s %10s %7s\n", "", "MiB", "limit MiB", "ratio");
    std::printf("%-36s %10.1f\n", "peak RSS before the test window", before);
    std::printf("%-36s %10.1f\n", "peak RSS with the window open", afterForm);
    std::printf("%-36s %10.1f %10.0f %7.2f\n", "peak RSS through the test", peak, kLimitMiB,
                peak / kLimitMiB);
    std::printf("records per channel %d, test ended: %s\n", rows, ended ? "yes" : "no");
    return ended && peak <= kLimitMiB ? 0 : 1;
}
