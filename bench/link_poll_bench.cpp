// Times the instrument link against the virtual instrument with 9600-baud line timing:
// full channel polls (code 3) and test-value reads (code 1) compared with the time the
// bytes need on the wire, and the CPU time the link threads use while polling.
//
//   link_poll_bench [polling-seconds]      (default 30; KIVO_SIM names the simulator)

#include <time.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/command_cycle.h"
#include "link/link_threads.h"
#include "link/serial_channel.h"
#include "platform/message_box.h"
#include "sim_process.h"
#include "state/test_state.h"
#include "link/link_view.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// 8N1 at 9600 baud: ten bit times a byte.
constexpr double kBytesPerSecond = 960.0;
constexpr int kRequestBytes = 8;  // "S" + six characters + "E"
constexpr int kReplyBytes = 14;   // 0x04 + twelve characters + 0x05
constexpr double kExchangeMs = (kRequestBytes + kReplyBytes) * 1000.0 / kBytesPerSecond;
// A command may take this much longer than its bytes need on the wire.
constexpr double kLimitFactor = 1.05;

// A form that keeps what the link writes, without a GUI.
class BenchView : public LinkView {
  public:
    void setField(Field field, const QString& text) override {
        std::lock_guard lock(m_mutex);
        m_fields[field] = text;
    }
    void setButtonEnabled(Button, bool) override {}
    void setReading(int row, Reading reading, const QString& text) override {
        std::lock_guard lock(m_mutex);
        m_cells[{row, reading == Reading::Current ? 4 : 5}] = text;
    }
    void channelPollDone() override {}
    void StopTest() override { ++m_stops; }
    void FinishTest(bool, const QString&) override {}
    ResumeDecision resumeChecked(int32_t) override { return ResumeDecision::Resume; }
    bool started() const override { return true; }
    SharedEvent& stopEvent() override { return m_stopEvent; }
    MessageBox::Result message(const QString& text, const QString&, MessageBox::Buttons,
                               MessageBox::Icon) override {
        std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
        ++m_messages;
        return MessageBox::Ok;
    }

    std::atomic<int> m_stops{0};
    std::atomic<int> m_messages{0};

  private:
    std::mutex m_mutex;
    std::map<Field, QString> m_fields;
    std::map<std::pair<int, int>, QString> m_cells;
    SharedEvent m_stopEvent;
};

double cpuMs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// CPU time of every thread but this one: the link threads (the program has no others here).
double linkThreadsCpuMs() {
    return cpuMs(CLOCK_PROCESS_CPUTIME_ID) - cpuMs(CLOCK_THREAD_CPUTIME_ID);
}

// Runs one command code and returns its time in ms from queueing to the end, as the
// timers see it; negative when it did not end within 20 s.
double timeCommand(uint8_t code) {
    while (g_nCurCommand.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto start = Clock::now();
    EnqueueCommand(code);
    const auto limit = start + std::chrono::seconds(20);
    // The cycle sets the code as current before it moves the tail on.
    while (g_cmdQueueTail.load() != g_cmdQueueHead.load()) {
        if (Clock::now() > limit) return -1;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    while (g_nCurCommand.load() != 0) {
        if (Clock::now() > limit) return -1;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Figures {
    int runs = 0;
    double mean = 0, min = 0, max = 0;
};

Figures timeRuns(uint8_t code, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double ms = timeCommand(code);
        if (ms < 0) break;
        times.push_back(ms);
    }
    Figures f;
    f.runs = static_cast<int>(times.size());
    if (times.empty()) return f;
    for (double t : times) f.mean += t;
    f.mean /= static_cast<double>(times.size());
    f.min = *std::min_element(times.begin(), times.end());
    f.max = *std::max_element(times.begin(), times.end());
    return f;
}

// Prints a command's figures against its wire time; true when the mean is within the limit.
bool printRow(const char* what, const Figures& f, double wireMs) {
    const double limitMs = kLimitFactor * wireMs;
    std::printf("%-28s %5d %9.1f %8.1f %8.1f %8.1f %9.1f %7.2f\n", what, f.runs, f.mean, f.min,
                f.max, wireMs, limitMs, f.runs ? f.mean / limitMs : 0.0);
    return f.runs > 0 && f.mean <= limitMs;
}

}  // namespace

int main(int argc, char** argv) {
    const int pollingSeconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 30;
    const std::string program = SimProgram();

    MessageBox::setResponder([](QWidget*, const MessageBox::Request& request) {
        std::fprintf(stderr, "message: %s\n", request.text.toUtf8().constData());
        return MessageBox::Ok;
    });

    char folder[] = "/tmp/kivo-link-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    SimProcess sim;
    if (!StartSim(std::string(folder) + "/com1", {"--line-timing"}, &sim)) {
        std::fprintf(stderr, "cannot start %s\n", program.c_str());
        StopSim(sim);
        return 1;
    }
    setenv("KIVO_COM1", sim.link.c_str(), 1);

    auto view = std::make_shared<BenchView>();
    view->stopEvent().create();  // as the run control creates it before the cycle starts
    g_nTestMinutes = 100000;
    g_bLinkActive = 1;
    if (!OpenLink(view, 0)) {
        StopSim(sim);
        return 1;
    }
    SendCommand(QStringLiteral("00W070 1111"));
    SendCommand(QStringLiteral("01W071 1111"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    // The link with the port open and nothing to do.
    const double idleStart = linkThreadsCpuMs();
    const auto idleWall = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double idleCpu = linkThreadsCpuMs() - idleStart;
    const double idleMinutes =
        std::chrono::duration<double>(Clock::now() - idleWall).count() / 60.0;

    g_bWorkerRun = 1;
    if (!StartCommandCycle(view)) {
        StopSim(sim);
        return 1;
    }
    timeCommand(CMD_READ_TEST);  // warm up

    const Figures poll = timeRuns(CMD_READ_CHANNELS, 20);
    const Figures test = timeRuns(CMD_READ_TEST, 20);

    // The polling of a running test: codes 1 and 3 every 2000 ms, as the timers queue them.
    const double pollStart = linkThreadsCpuMs();
    const auto pollWall = Clock::now();
    for (int tick = 0; tick < pollingSeconds / 2; ++tick) {
        EnqueueCommand(CMD_READ_TEST);
        EnqueueCommand(CMD_READ_CHANNELS);
        std::this_thread::sleep_until(pollWall + std::chrono::seconds(2 * (tick + 1)));
    }
    const double pollCpu = linkThreadsCpuMs() - pollStart;
    const double pollMinutes =
        std::chrono::duration<double>(Clock::now() - pollWall).count() / 60.0;

    std::printf("Instrument link against kivo-sim --line-timing (9600 baud, 8N1: %.0f bytes/s)\n",
                kBytesPerSecond);
    std::printf("%-28s %5s %9s %8s %8s %8s %9s %7s\n", "", "runs", "mean ms", "min ms", "max ms",
                "wire ms", "limit ms", "ratio");
    const bool pollWithin = printRow("full channel poll (code 3)", poll, 12 * kExchangeMs);
    const bool testWithin = printRow("test-value read (code 1)", test, 2 * kExchangeMs);
    std::printf("(limit: %.2f x the wire time)\n", kLimitFactor);
    std::printf("\nCPU time of the link threads (receive thread and command cycle):\n");
    std::printf("  idle, port open           %8.1f ms per minute (%.3f %% of one core)\n",
                std::max(0.0, idleCpu) / idleMinutes,
                std::max(0.0, idleCpu) / (idleMinutes * 600.0));
    std::printf("  polling every 2 s         %8.1f ms per minute (%.3f %% of one core), %.1f s\n",
                pollCpu / pollMinutes, pollCpu / (pollMinutes * 600.0), pollMinutes * 60.0);
    std::printf("  failures during the run   %d messages, %d stops\n", view->m_messages.load(),
                view->m_stops.load());

    g_bWorkerRun = 0;
    g_bLinkActive = 0;
    view->stopEvent().setAndClose();
    g_hRxStopEvent.setAndClose();
    LinkThreads::joinAll();
    ClosePort();
    StopSim(sim);
    rmdir(folder);
    return poll.runs == 20 && test.runs == 20 && pollWithin && testWithin ? 0 : 1;
}
