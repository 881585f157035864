// Time from process start to the main window shown: the real executable is started
// offscreen with KIVO_EXIT_WHEN_SHOWN=1, prints the moment of its first paint and ends.
//
//   startup_bench [runs]      (default 9; KIVO_PROGRAM names the executable)

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kLimitMs = 500.0;

struct Run {
    double spawnToShownMs = -1;  // measured here: from posix_spawn to the printed line
    double mainToShownMs = -1;   // measured in the program: from main() to the first paint
};

Run startOnce(const std::string& program, char** env) {
    Run run;
    int out[2];
    if (pipe(out) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {program};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const auto start = Clock::now();
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), env);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        return run;
    }
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    const auto shown = Clock::now();
    close(out[0]);
    waitpid(pid, nullptr, 0);
    if (line.rfind("shown ", 0) != 0) return run;
    run.spawnToShownMs = std::chrono::duration<double, std::milli>(shown - start).count();
    run.mainToShownMs = std::atof(line.c_str() + 6);
    return run;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const char* programEnv = std::getenv("KIVO_PROGRAM");
    const std::string program = programEnv ? programEnv : KIVO_BINARY_DIR "/src/kivo";

    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("QT_QPA_PLATFORM=", 0) == 0 || entry.rfind("KIVO_EXIT_WHEN_SHOWN=", 0) == 0)
            continue;
        envText.push_back(entry);
    }
    envText.push_back("QT_QPA_PLATFORM=offscreen");
    envText.push_back("KIVO_EXIT_WHEN_SHOWN=1");
    std::vector<char*> env;
    for (auto& e : envText) env.push_back(e.data());
    env.push_back(nullptr);

    startOnce(program, env.data());  // warm the file cache
    std::vector<double> spawnToShown, mainToShown;
    for (int i = 0; i < runs; ++i) {
        const Run run = startOnce(program, env.data());
        if (run.spawnToShownMs < 0) {
            std::fprintf(stderr, "%s did not report its main window\n", program.c_str());
            return 1;
        }
        spawnToShown.push_back(run.spawnToShownMs);
        mainToShown.push_back(run.mainToShownMs);
    }
    const double total = median(spawnToShown);
    std::printf("Start-up to the main window shown (offscreen), median of %d runs\n", runs);
    std::printf("%-34s %9s %9s %9s %9s %7s\n", "", "median ms", "min ms", "max ms", "limit ms",
                "ratio");
    std::printf("%-34s %9.1f %9.1f %9.1f %9.0f %7.2f\n", "process start to first paint", total,
                *std::min_element(spawnToShown.begin(), spawnToShown.end()),
                *std::max_element(spawnToShown.begin(), spawnToShown.end()), kLimitMs,
                total / kLimitMs);
    std::printf("%-34s %9.1f\n", "  of which main() to first paint", median(mainToShown));
    return total <= kLimitMs ? 0 : 1;
}
