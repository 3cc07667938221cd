// SPDX-License-Identifier: MIT
// The stand-in status library against what a user would otherwise script: GetPrinterStatus
// through the program's own binding, and "lpstat -l -p NAME" run as a process, each timed call
// by call against the same scheduler (the private one that CUPS_SERVER names; the benchmark
// refuses to run without one). Prints the medians as key=value lines.
//
//   bench_qvlmstat LIBRARY QUEUE [CALLS [RUNS]]

#include "statuslibrary.h"
#include "timing.h"

#include <QByteArray>
#include <QString>

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using bench::Clock;
using bench::median;
using bench::microsecondsSince;

// One run of lpstat, its output thrown away; false when it could not run or failed.
bool runLpstat(const char *queue)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char lpstat[] = "lpstat", longForm[] = "-l", printer[] = "-p";
    char *argv[] = {lpstat, longForm, printer, const_cast<char *>(queue), nullptr};
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, "lpstat", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_qvlmstat LIBRARY QUEUE [CALLS [RUNS]]\n");
        return 2;
    }
    const QByteArray server = qgetenv("CUPS_SERVER");
    if (!server.startsWith('/') || qEnvironmentVariableIsEmpty("RAVELIN_PRIVATE_CUPS")) {
        std::fprintf(stderr, "bench_qvlmstat: run it under scripts/private-cups or "
                             "scripts/demo-printers, never against the machine's scheduler\n");
        return 2;
    }
    const QString queue = QString::fromLocal8Bit(argv[2]);
    const int calls = argc > 3 ? std::atoi(argv[3]) : 500;
    const int runs = argc > 4 ? std::atoi(argv[4]) : 100;

    ravelin::StatusLibrary library({QString::fromLocal8Bit(argv[1])});
    const ravelin::StatusWord word = library.GetPrinterStatus(queue); // loads it, unmeasured
    std::vector<double> callTimes;
    for (int i = 0; i < calls; ++i) {
        const auto start = Clock::now();
        if (library.GetPrinterStatus(queue) != word) {
            std::fprintf(stderr, "bench_qvlmstat: the status of %s changed meanwhile\n", argv[2]);
            return 1;
        }
        callTimes.push_back(microsecondsSince(start));
    }

    std::vector<double> runTimes;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        if (!runLpstat(argv[2])) {
            std::fprintf(stderr, "bench_qvlmstat: lpstat -l -p %s failed\n", argv[2]);
            return 1;
        }
        runTimes.push_back(microsecondsSince(start));
    }

    const double call = median(callTimes), run = median(runTimes);
    std::printf("qvlmstat.word=0x%04X\nqvlmstat.calls=%d\nqvlmstat.call_us=%.0f\n"
                "qvlmstat.lpstat_runs=%d\nqvlmstat.lpstat_us=%.0f\nqvlmstat.ratio=%.1f\n",
                static_cast<unsigned>(word), calls, call, runs, run, run / call);
    return 0;
}
