// kivo-sim: a virtual flux tester on a pseudo-terminal (see --help).

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "instrument.h"
#include "line_timing.h"
#include "pty_link.h"
#include "reply_schedule.h"
#include "request_framer.h"
#include "request_log.h"
#include "sim_model.h"
#include "sim_options.h"

namespace {

volatile sig_atomic_t g_stopRequested = 0;
volatile sig_atomic_t g_silenceToggles = 0;
volatile sig_atomic_t g_resumes = 0;

void OnStop(int) { g_stopRequested = 1; }
void OnToggleSilence(int) { g_silenceToggles = g_silenceToggles + 1; }
void OnResume(int) { g_resumes = g_resumes + 1; }

constexpr double kIdlePollMs = 20.0;
constexpr std::size_t kReadBlock = 1024;

// Signals are blocked except while waiting in ppoll, so the loop never misses one between
// looking at the flags and going to sleep.
sigset_t InstallSignals() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);

    sigset_t handled;
    sigemptyset(&handled);
    const int stops[] = {SIGINT, SIGTERM, SIGHUP};
    for (int s : stops) sigaddset(&handled, s);
    sigaddset(&handled, SIGUSR1);
    sigaddset(&handled, SIGUSR2);
    sigset_t previous;
    ::sigprocmask(SIG_BLOCK, &handled, &previous);

    struct sigaction act {};
    sigemptyset(&act.sa_mask);
    act.sa_handler = OnStop;
    for (int s : stops) ::sigaction(s, &act, nullptr);
    act.sa_handler = OnToggleSilence;
    ::sigaction(SIGUSR1, &act, nullptr);
    act.sa_handler = OnResume;
    ::sigaction(SIGUSR2, &act, nullptr);

    sigset_t waiting = previous;
    for (int s : stops) sigdelset(&waiting, s);
    sigdelset(&waiting, SIGUSR1);
    sigdelset(&waiting, SIGUSR2);
    return waiting;
}

// Writes a piece of reply; when nobody is reading and the terminal's buffer is full the rest
// is dropped, as bytes on an unplugged line would be.
void WritePiece(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

struct PendingRequest {
    double dueMs;
    std::string text;
};

// The instrument ends with the program that started it (a test, a benchmark, the run
// script): a parent that crashes leaves no instrument behind holding its terminal and its
// output open. The signal stays pending until the main loop waits, and ends it like a
// SIGTERM, link removed.
void EndWithParent(pid_t parentAtStart) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parentAtStart) g_stopRequested = 1;  // it died before the line above
}

}  // namespace

int main(int argc, char** argv) {
    const pid_t parentAtStart = ::getppid();
    const ParsedOptions parsed = ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "kivo-sim: %s\n", parsed.error.c_str());
        return 2;
    }
    const SimOptions& opt = parsed.options;
    if (opt.help) {
        std::fputs(SimHelpText().c_str(), stdout);
        return 0;
    }

    const sigset_t waitMask = InstallSignals();
    EndWithParent(parentAtStart);

    std::string error;
    RequestLog log;
    if (!opt.logPath.empty() && !log.open(opt.logPath, error)) {
        std::fprintf(stderr, "kivo-sim: %s\n", error.c_str());
        return 1;
    }
    PtyLink pty;
    if (!pty.open(opt.linkPath, error)) {
        std::fprintf(stderr, "kivo-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", opt.linkPath.c_str());
    std::fflush(stdout);

    SimModel model(opt.seed);
    model.setDurationMinutes(opt.durationMinutes);
    model.setHeating(opt.heating);
    Instrument instrument(model, opt.answer);
    instrument.setSilent(opt.silent);
    ReplySchedule schedule(opt.reply, opt.seed);
    RequestFramer framer;
    InputWire wire(opt.reply.lineTiming);
    std::deque<PendingRequest> pending;

    const auto started = std::chrono::steady_clock::now();
    auto nowMs = [&] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    };
    double modelClockMs = 0.0;
    sig_atomic_t toggles = 0, resumes = 0;
    std::vector<char> block(kReadBlock);

    while (!g_stopRequested) {
        const double now = nowMs();
        for (; toggles != g_silenceToggles; ++toggles) instrument.toggleSilent();
        if (resumes != g_resumes) {
            resumes = g_resumes;
            instrument.resume();
        }
        model.advance((now - modelClockMs) / 1000.0 * opt.speed);
        modelClockMs = now;
        instrument.tick(now);

        while (!pending.empty() && pending.front().dueMs <= now) {
            log.write(now, pending.front().text);
            if (auto reply = instrument.handle(pending.front().text, now))
                schedule.queue(*reply, now);
            pending.pop_front();
        }
        if (instrument.silentAt(now)) schedule.clear();
        while (auto piece = schedule.popDue(now)) WritePiece(pty.masterFd(), *piece);

        double waitMs = kIdlePollMs;
        if (!pending.empty()) waitMs = std::min(waitMs, pending.front().dueMs - now);
        waitMs = std::max(0.0, std::min(waitMs, schedule.nextDueMs() - now));
        const long waitNs = static_cast<long>(waitMs * 1e6);
        const timespec ts{waitNs / 1000000000L, waitNs % 1000000000L};
        pollfd pfd{pty.masterFd(), POLLIN, 0};
        const int ready = ::ppoll(&pfd, 1, &ts, &waitMask);
        if (ready <= 0 || !(pfd.revents & POLLIN)) continue;

        const ssize_t n = ::read(pty.masterFd(), block.data(), block.size());
        if (n <= 0) continue;
        wire.receive(static_cast<std::size_t>(n), nowMs());
        for (auto& request : framer.feed(block.data(), static_cast<std::size_t>(n)))
            pending.push_back({wire.arrival(request.endOffset), std::move(request.text)});
    }
    return 0;
}
