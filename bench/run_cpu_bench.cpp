// CPU time the whole program uses, all threads together, while a test runs and in every
// state in which it waits: the test form, its polling timers and the link against the
// virtual instrument at real speed with 9600-baud line timing. The form is shown
// (offscreen), as on the bench.
//
//   run_cpu_bench [running-seconds [waiting-seconds]]
//       (defaults 60 and 20; KIVO_SIM names the simulator)
//
// The archive is attached as in the program: the running test's row, states, records and polls
// are written to an archive in the bench's scratch folder.
//
// The states, in the order an operator meets them: the test window open (idle), after the
// device initialisation, running, paused by the operator, paused by a communication failure
// (the instrument falls silent), and paused with the adapter pulled out (the instrument's
// terminal gone).

#include <signal.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/polling_timers.h"
#include "event_loop.h"
#include "link/link_threads.h"
#include "monitor/form_ids.h"
#include "monitor/testclass.h"
#include "platform/message_box.h"
#include "run/archive_session.h"
#include "sim_process.h"
#include "state/test_state.h"

namespace {

constexpr double kRunningLimitPercent = 0.5;   // of one core
constexpr double kWaitingLimitPercent = 0.05;  // of one core

double processCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// The calling thread's CPU time in ms.
double ownCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

// The CPU time in ms of every thread but the calling one, by thread id, with the thread's name,
// from the kernel's run time of each. Empty where the kernel keeps none.
std::map<QString, std::pair<std::string, double>> otherThreadsCpuMs() {
    std::map<QString, std::pair<std::string, double>> byTid;
    const QString self = QString::number(gettid());
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (tid == self) continue;
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        QFile sched(tasks.filePath(tid + QStringLiteral("/schedstat")));
        if (!comm.open(QIODevice::ReadOnly) || !sched.open(QIODevice::ReadOnly)) continue;
        byTid[tid] = {comm.readAll().trimmed().toStdString(),
                      sched.readAll().split(' ').value(0).toDouble() / 1e6};
    }
    return byTid;
}

struct Figure {
    std::string state;
    double cpuMs = 0;
    double wallMs = 0;
    double limitPercent = 0;
    bool reached = false;  // the program was in the state when the time began
    std::map<std::string, double> threadMs;  // what each thread took of `cpuMs`

    double percent() const { return wallMs > 0 ? cpuMs / wallMs * 100.0 : 0.0; }
    bool within() const { return reached && percent() <= limitPercent; }
};

// Runs the event loop for `seconds` and takes the CPU time of the whole process.
Figure measure(const std::string& state, int seconds, double limitPercent, bool reached) {
    Figure f{state, 0, 0, limitPercent, reached, {}};
    const auto othersStart = otherThreadsCpuMs();
    const double ownStart = ownCpuMs();
    const double cpuStart = processCpuMs();
    QElapsedTimer wall;
    wall.start();
    runFor(seconds * 1000);
    f.cpuMs = processCpuMs() - cpuStart;
    f.threadMs["gui"] = ownCpuMs() - ownStart;
    f.wallMs = static_cast<double>(wall.elapsed());
    // Threads of one name added up; a thread that ended during the time took its share with it.
    for (const auto& [tid, thread] : otherThreadsCpuMs()) {
        const auto start = othersStart.find(tid);
        const double before = start == othersStart.end() ? 0.0 : start->second.second;
        const double used = thread.second - before;
        if (used > 0) f.threadMs[thread.first] += used;  // not a reused id's
    }
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const int runningSeconds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 60;
    const int waitingSeconds = argc > 2 ? std::max(5, std::atoi(argv[2])) : 20;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QStringList messages;
    MessageBox::setResponder([&](QWidget*, const MessageBox::Request& request) {
        messages << request.text;
        return MessageBox::Cancel;
    });

    QTemporaryDir folder;
    if (!folder.isValid()) return 1;
    SimProcess sim;
    if (!StartSim(folder.filePath(QStringLiteral("com1")).toStdString(), {"--line-timing"}, &sim)) {
        std::fprintf(stderr, "cannot start %s\n", SimProgram().c_str());
        StopSim(sim);
        return 1;
    }
    qputenv("KIVO_COM1", QByteArray::fromStdString(sim.link));
    const QString archiveFile = folder.filePath(QStringLiteral("kivo.sqlite"));
    ArchiveSession::open(archiveFile);

    g_nTestMinutes = 100000;
    g_nRecordInterval = 1;
    g_bLinkActive = 1;  // as the main frame sets it before a test window opens
    std::vector<Figure> figures;
    int rows = 0;
    qsizetype messagesWhileRunning = -1;
    {
        PollingTimers timers;
        Testclass form;
        form.resize(1280, 900);
        form.show();
        form.OnInitialUpdate();
        runFor(1000);
        figures.push_back(
            measure("test window open", waitingSeconds, kWaitingLimitPercent, messages.isEmpty()));

        form.OnDeviceInit();
        const bool initialised =
            runUntil([&] { return form.item(FormId::StartButton)->isEnabled(); }, 20000);
        runFor(1000);
        figures.push_back(measure("initialised", waitingSeconds, kWaitingLimitPercent,
                                  initialised && messages.isEmpty()));

        form.OnStartTest();
        runFor(5000);  // the first record and the first polls
        figures.push_back(measure("running, polls every 2 s", runningSeconds, kRunningLimitPercent,
                                  g_bTesting.load() != 0));
        rows = form.historyRowCount(0);
        messagesWhileRunning = messages.size();
        const bool stillRunning = g_bTesting.load() != 0;

        form.OnStartTest();  // pause
        runFor(1000);
        figures.push_back(measure("paused", waitingSeconds, kWaitingLimitPercent,
                                  stillRunning && g_bTesting.load() == 0));

        form.OnStartTest();  // resume, then the instrument falls silent
        runFor(3000);
        kill(sim.pid, SIGUSR1);
        const bool failed = runUntil([&] { return g_bTesting.load() == 0; }, 30000);
        runFor(1000);
        figures.push_back(
            measure("paused after a failure", waitingSeconds, kWaitingLimitPercent, failed));

        StopSim(sim);  // the adapter pulled out: the terminal is gone
        sim.pid = -1;
        runFor(1000);
        figures.push_back(measure("paused, device pulled out", waitingSeconds, kWaitingLimitPercent,
                                  failed && g_bTesting.load() == 0));
    }
    LinkThreads::joinAll();
    StopSim(sim);
    ArchiveSession::close();

    std::printf(
        "CPU of the whole program, all threads (kivo-sim --line-timing, real speed, polls every "
        "2 s while running)\n");
    std::printf("%-28s %9s %8s %9s %9s %7s\n", "state", "ms/min", "wall s", "% core", "limit %",
                "ratio");
    bool ok = true;
    for (const Figure& f : figures) {
        std::printf("%-28s %9.1f %8.1f %9.3f %9.2f %7.2f%s\n", f.state.c_str(),
                    f.cpuMs / (f.wallMs / 60000.0), f.wallMs / 1000.0, f.percent(), f.limitPercent,
                    f.percent() / f.limitPercent, f.reached ? "" : "  (state not reached)");
        ok = ok && f.within();
    }
    std::printf("by thread, ms/min (from the kernel's run time of each thread):\n");
    for (const Figure& f : figures) {
        std::printf("  %-26s", f.state.c_str());
        for (const auto& [name, ms] : f.threadMs)
            if (ms / (f.wallMs / 60000.0) >= 0.5)
                std::printf(" %s %.1f", name.c_str(), ms / (f.wallMs / 60000.0));
        std::printf("\n");
    }
    std::printf("records taken while running %d, messages while running %lld, messages in all: ",
                rows, static_cast<long long>(messagesWhileRunning));
    std::printf("%s\n", messages.join(QStringLiteral(" | ")).toUtf8().constData());
    return ok && messagesWhileRunning == 0 ? 0 : 1;
}
