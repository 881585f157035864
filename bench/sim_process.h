#pragma once

// The virtual instrument as a child process of a benchmark.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

struct SimProcess {
    pid_t pid = -1;
    std::string link;
};

// KIVO_SIM names the simulator; the default is the one of this build.
inline std::string SimProgram() {
    const char* env = std::getenv("KIVO_SIM");
    return env ? env : KIVO_BINARY_DIR "/tools/kivo-sim/kivo-sim";
}

// Starts the simulator on `link` with `options` and waits until it has printed the link's
// path (the terminal is ready then).
inline bool StartSim(const std::string& link, const std::vector<std::string>& options,
                     SimProcess* sim) {
    const std::string program = SimProgram();
    int out[2];
    if (pipe(out) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args = {program, "--link", link};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&sim->pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        return false;
    }
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    close(out[0]);
    sim->link = line;
    return !line.empty();
}

inline void StopSim(const SimProcess& sim) {
    if (sim.pid <= 0) return;
    kill(sim.pid, SIGTERM);
    waitpid(sim.pid, nullptr, 0);
}
