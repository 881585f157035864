// CPU time the whole program uses while a test runs, all threads together: the test form,
// its polling timers and the link against the virtual instrument at real speed with
// 9600-baud line timing. The form is shown (offscreen), as on the bench.
//
//   run_cpu_bench [seconds]      (default 60 s of a running test; KIVO_SIM names the simulator)

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
#include "sim_process.h"
#include "state/test_state.h"

namespace {

constexpr double kLimitPercent = 1.0;  // of one core

double processCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 60;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    int messages = 0;
    MessageBox::setResponder([&](QWidget*, const MessageBox::Request& request) {
        std::fprintf(stderr, "message: %s\n", request.text.toUtf8().constData());
        ++messages;
        return MessageBox::Cancel;
    });

    char folder[] = "/tmp/kivo-cpu-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    SimProcess sim;
    if (!StartSim(std::string(folder) + "/com1", {"--line-timing"}, &sim)) {
        std::fprintf(stderr, "cannot start %s\n", SimProgram().c_str());
        StopSim(sim);
        return 1;
    }
    qputenv("KIVO_COM1", QByteArray::fromStdString(sim.link));

    g_nTestMinutes = 100000;
    g_nRecordInterval = 1;
    g_bLinkActive = 1;  // as the main frame sets it before a test window opens
    bool ok = false;
    double cpuMs = 0, wallMs = 0;
    int rows = 0;
    {
        PollingTimers timers;
        Testclass form;
        form.resize(1280, 900);
        form.show();
        form.OnInitialUpdate();
        form.OnDeviceInit();
        if (runUntil([&] { return form.item(FormId::StartButton)->isEnabled(); }, 20000)) {
            form.OnStartTest();
            runFor(5000);  // the first record and the first polls
            const double cpuStart = processCpuMs();
            QElapsedTimer wall;
            wall.start();
            runFor(seconds * 1000);
            cpuMs = processCpuMs() - cpuStart;
            wallMs = static_cast<double>(wall.elapsed());
            rows = form.historyRowCount(0);
            ok = g_bTesting.load() != 0;
            form.StopTest();
            runFor(200);
        } else {
            std::fprintf(stderr, "the initialisation check did not pass\n");
        }
    }
    LinkThreads::joinAll();
    StopSim(sim);
    rmdir(folder);

    const double perMinute = cpuMs / (wallMs / 60000.0);
    const double percent = perMinute / 600.0;
    std::printf(
        "CPU of the whole program during a running test (kivo-sim --line-timing, real "
        "speed, polls every 2 s)\n");
    std::printf("%-30s %10s %10s %10s %7s\n", "", "measured", "wall s", "limit", "ratio");
    std::printf("%-30s %10.1f %10.1f %10.1f %7.2f\n", "CPU ms per minute", perMinute,
                wallMs / 1000.0, kLimitPercent * 600.0, perMinute / (kLimitPercent * 600.0));
    std::printf("%-30s %10.3f %10s %10.2f %7.2f\n", "% of one core", percent, "", kLimitPercent,
                percent / kLimitPercent);
    std::printf("records taken %d, messages %d, test still running: %s\n", rows, messages,
                ok ? "yes" : "no");
    return ok && messages == 0 ? 0 : 1;
}
