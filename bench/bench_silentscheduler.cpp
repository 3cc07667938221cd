// SPDX-License-Identifier: MIT
// Ten consecutive GetPrinterStatus calls of a status library against a scheduler that takes
// connections and never answers (a Unix socket of our own that nobody reads), as a window
// polling a dead scheduler makes them. Run once per process: what the library remembers between
// calls is part of what is measured. Prints key=value lines.
//
//   bench_silentscheduler LIBRARY

#include "statuslibrary.h"

#include <QByteArray>
#include <QString>

#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_silentscheduler LIBRARY\n");
        return 2;
    }
    char folder[] = "/tmp/rvbench.XXXXXX";
    if (!::mkdtemp(folder)) {
        std::perror("bench_silentscheduler: mkdtemp");
        return 1;
    }
    const std::string path = std::string(folder) + "/silent.sock";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0 ||
        ::bind(listener, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener, 64) != 0) {
        std::perror("bench_silentscheduler: listen");
        return 1;
    }
    // Only this scheduler, none of the machine's or the user's configuration.
    ::setenv("CUPS_SERVER", path.c_str(), 1);
    ::setenv("CUPS_SERVERROOT", folder, 1);
    ::setenv("HOME", folder, 1);
    ::unsetenv("PRINTER");
    ::unsetenv("LPDEST");

    ravelin::StatusLibrary library({QString::fromLocal8Bit(argv[1])});
    const auto start = std::chrono::steady_clock::now();
    int errors = 0;
    for (int call = 0; call < 10; ++call)
        errors += library.GetPrinterStatus(QStringLiteral("QVT-7460")) == 0x0080;
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    ::close(listener);
    ::unlink(path.c_str());
    ::rmdir(folder);
    std::printf("silent.ten_calls_ms=%.0f\nsilent.printer_errors=%d\n", ms, errors);
    return errors == 10 ? 0 : 1;
}
