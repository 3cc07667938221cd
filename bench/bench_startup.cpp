// SPDX-License-Identifier: MIT
// Start-up time and peak memory of programs that report their first painted frame (linked with
// firstframe.cpp), started in turn, several runs each.
//
//   bench_startup RUNS NAME=PROGRAM [NAME=PROGRAM...]
//
// For each run, every program is started once, the order turning round from run to run. The
// time is taken from CLOCK_MONOTONIC just before the process is made to the program's own
// report of its first frame; the peak resident set size is the kernel's (ru_maxrss) once the
// program has ended. Prints NAME.startup_ms and NAME.peak_rss_kib, the medians, as key=value
// lines, after one unmeasured run of each to warm the caches.

#include "timing.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

extern char **environ;

namespace {

struct Program
{
    std::string name;
    std::string path;
    std::vector<double> milliseconds;
    std::vector<double> peakKiB;
};

long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "bench_startup: %s\n", what.c_str());
    std::exit(1);
}

// Starts the program, reads its first-frame report and waits for it to end.
void runOnce(Program &program, bool record)
{
    int out[2];
    if (pipe(out) != 0)
        fail("pipe: " + std::string(std::strerror(errno)));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    char *argv[] = {program.path.data(), nullptr};

    const long long started = monotonicNs();
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0)
        fail("cannot start " + program.path + ": " + std::strerror(spawned));

    std::string text;
    char buffer[256];
    pollfd watch{out[0], POLLIN, 0};
    while (text.find('\n') == std::string::npos) {
        const int ready = poll(&watch, 1, 30000);
        if (ready <= 0) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            fail(program.name + " showed no first frame within 30 s");
        }
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        text.append(buffer, size_t(got));
    }
    close(out[0]);

    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) < 0)
        fail("wait4: " + std::string(std::strerror(errno)));
    const std::string key = "first-frame-ns=";
    const size_t at = text.find(key);
    if (at == std::string::npos || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(program.name + " ended without reporting a first frame (" + text + ")");
    const long long frame = std::atoll(text.c_str() + at + key.size());
    if (record) {
        program.milliseconds.push_back(double(frame - started) / 1e6);
        program.peakKiB.push_back(double(usage.ru_maxrss));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3)
        fail("usage: bench_startup RUNS NAME=PROGRAM [NAME=PROGRAM...]");
    const int runs = std::atoi(argv[1]);
    std::vector<Program> programs;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        const size_t equals = argument.find('=');
        if (equals == std::string::npos)
            fail("not NAME=PROGRAM: " + argument);
        programs.push_back({argument.substr(0, equals), argument.substr(equals + 1), {}, {}});
    }

    for (Program &program : programs)
        runOnce(program, false);
    for (int run = 0; run < runs; ++run) {
        for (size_t i = 0; i < programs.size(); ++i)
            runOnce(programs[(i + size_t(run)) % programs.size()], true);
    }
    for (const Program &program : programs) {
        std::printf("%s.startup_ms=%.1f\n%s.startup_min_ms=%.1f\n%s.peak_rss_kib=%.0f\n",
                    program.name.c_str(), bench::median(program.milliseconds), program.name.c_str(),
                    *std::min_element(program.milliseconds.begin(), program.milliseconds.end()),
                    program.name.c_str(), bench::median(program.peakKiB));
    }
    return 0;
}
