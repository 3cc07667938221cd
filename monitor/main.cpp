// SPDX-License-Identifier: MIT
// ravelin-monitor: the language monitor of Ravelin's status library. It watches the CUPS queues
// of the series, reads each printer on a period (one conversation per device, under the device's
// lock; USB printers between jobs), and answers the status library and other clients from memory
// on a Unix socket. See usage() for the command line and qvlmstat/monitorprotocol.h for the
// protocol.

#include "listener.h"
#include "log.h"
#include "metricsexport.h"
#include "monitorclient.h"
#include "monitorserver.h"
#include "options.h"
#include "printertable.h"
#include "queuewatcher.h"
#include "usbdevicekind.h"
#include "usbprinters.h"

#include <sys/signalfd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace ravelin::monitor;

int main(int argc, char **argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string error;
    const std::optional<Options> options =
        parseOptions(arguments, std::getenv(ravelin::qvlmstat::MonitorSocketVariable), error);
    if (!options) {
        std::fprintf(stderr, "ravelin-monitor: %s\n\n%s", error.c_str(), usage().c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }
    if (options->version) {
        std::puts("ravelin-monitor " RAVELIN_VERSION);
        return 0;
    }

    // The stop signals arrive through a descriptor that the server polls; they are blocked
    // before any thread starts, so that every thread inherits the mask and none takes them.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    const int signals = ::signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);

    Log log;
    if (signals < 0) {
        log.line("cannot wait for signals: " + systemError(errno));
        return 1;
    }
    Listener listener = Listener::fromSystemd();
    if (!listener.error().empty()) {
        log.line(listener.error());
        return 1;
    }
    if (!listener.valid())
        listener = Listener::at(options->socket);
    if (!listener.valid()) {
        log.line("cannot listen: " + listener.error());
        return 1;
    }

    PrinterTable table;
    MetricsExport metrics(table, log, RAVELIN_VERSION);
    if (options->metricsListen && !metrics.serve(*options->metricsListen))
        return 1;
    if (!options->metricsTextfile.empty())
        metrics.writeTextfile(options->metricsTextfile);
    // USB is started at the first reading of a USB printer; the readers end before it does.
    ravelin::usbprinter::UsbPrinters usb;
    QueueWatcher watcher(table, log,
                         {.period = options->period,
                          .kinds = {usbDeviceKind(usb)},
                          .afterRound = [&metrics] { metrics.afterRound(); }});
    MonitorServer server(listener.descriptor(), table, log, RAVELIN_VERSION);
    log.line("version " RAVELIN_VERSION ", answering at " + listener.where() + ", reading every " +
             std::to_string(options->period.count()) + " ms");
    watcher.start();
    const bool served = server.run(signals);
    metrics.stop();
    watcher.stop();
    log.line("stopped");
    return served ? 0 : 1;
}
