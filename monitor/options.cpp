// SPDX-License-Identifier: MIT
#include "options.h"

#include "asciitext.h"
#include "monitorclient.h"

namespace ravelin::monitor {

std::optional<Options> parseOptions(const std::vector<std::string> &arguments,
                                    const char *environmentSocket, std::string &error)
{
    Options options;
    std::optional<std::string> socket;
    std::optional<std::string> period;
    std::optional<std::string> listen;
    std::optional<std::string> textfile;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> value;
        if (const std::size_t equals = name.find('=');
            name.starts_with("--") && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if ((name == "--help" || name == "-h") && !value) {
            options.help = true;
            continue;
        }
        if (name == "--version" && !value) {
            options.version = true;
            continue;
        }
        std::optional<std::string> *target = name == "--socket"             ? &socket
                                             : name == "--period"           ? &period
                                             : name == "--metrics-listen"   ? &listen
                                             : name == "--metrics-textfile" ? &textfile
                                                                            : nullptr;
        if (!target) {
            error = "unknown option " + name;
            return std::nullopt;
        }
        if (*target) {
            error = name + " is given twice";
            return std::nullopt;
        }
        if (!value) {
            if (i + 1 == arguments.size()) {
                error = name + " needs a value";
                return std::nullopt;
            }
            value = arguments[++i];
        }
        *target = std::move(value);
    }
    if (socket) {
        options.socket = *socket;
    } else if (environmentSocket && *environmentSocket != '\0') {
        options.socket = environmentSocket;
    } else {
        options.socket = qvlmstat::DefaultMonitorSocket;
    }
    if (options.socket.empty()) {
        error = "--socket needs a path";
        return std::nullopt;
    }
    if (period) {
        const std::optional<std::size_t> ms = qvlmstat::wholeNumber(*period);
        if (!ms || *ms < static_cast<std::size_t>(Options::ShortestPeriod.count()) ||
            *ms > static_cast<std::size_t>(Options::LongestPeriod.count())) {
            error = "--period takes whole milliseconds from " +
                    std::to_string(Options::ShortestPeriod.count()) + " to " +
                    std::to_string(Options::LongestPeriod.count()) + ", not " + *period;
            return std::nullopt;
        }
        options.period = std::chrono::milliseconds(static_cast<long>(*ms));
    }
    if (listen) {
        std::string why;
        options.metricsListen = metrics::parseListenAddress(*listen, why);
        if (!options.metricsListen) {
            error = "--metrics-listen " + why;
            return std::nullopt;
        }
    }
    if (textfile) {
        std::string why;
        if (!metrics::checkTextfileDirectory(*textfile, why)) {
            error = "--metrics-textfile " + why;
            return std::nullopt;
        }
        options.metricsTextfile = *textfile;
    }
    return options;
}

std::string usage()
{
    return "usage: ravelin-monitor [--socket PATH] [--period MS]\n"
           "                       [--metrics-listen ADDRESS[:PORT]] [--metrics-textfile DIR]\n"
           "                       [--help] [--version]\n"
           "\n"
           "Watches the CUPS queues of QVT-7400 series receipt printers and reads each printer's\n"
           "status on a period, one conversation per device, and answers the status library\n"
           "(libQVLMSTAT.so) and other clients from memory on a Unix socket.\n"
           "\n"
           "  --socket PATH                    the socket to listen at, when systemd passes none\n"
           "                                   (default: $RAVELIN_MONITOR_SOCKET, else\n"
           "                                   /run/ravelin/monitor.sock)\n"
           "  --period MS                      how often each printer is read, 100 to 30000 ms\n"
           "                                   (default 1000)\n" +
           std::string(metrics::OptionsHelp) +
           "  --help                           this text\n"
           "  --version                        the version\n"
           "\n"
           "It logs to standard error, one line per change of a printer's reason for Printer\n"
           "Error, and ends on SIGTERM or SIGINT with status 0; 1 when it cannot listen or\n"
           "serve, 2 for a command line it cannot use. The protocol and the metrics are in\n"
           "Ravelin's README.\n";
}

} // namespace ravelin::monitor
