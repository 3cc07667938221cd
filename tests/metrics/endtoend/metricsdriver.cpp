// SPDX-License-Identifier: MIT
// ravelin-metrics-driver: the metrics endpoint over a scripted table of printers instead of the
// monitor's readings, for the end-to-end test and the graph picture. It serves /metrics, prints
// "metrics ADDRESS:PORT" and "ready", then reads commands on stdin, one a line, answering each
// with "ok" or "error WHY":
//   word NAME WORD   the printer's latest reading becomes WORD (0x... or decimal), answered; a
//                    printer not seen before is added
//   quit             ends it, as does the end of its input
// Every printer reads as read a moment ago, as under a monitor that reads each second.
//   ravelin-metrics-driver [--listen ADDRESS:PORT]   (default 127.0.0.1:0, any free port)

#include "metricsserver.h"

#include <iostream>
#include <map>
#include <mutex>
#include <sstream>

using namespace ravelin::metrics;

namespace {

class ScriptedTable
{
public:
    void setWord(const std::string &name, std::uint32_t word)
    {
        const std::lock_guard lock(m_mutex);
        PrinterSample &printer = m_printers[name];
        if (printer.name.empty()) {
            printer.name = name;
            printer.deviceUri = "socket://127.0.0.1:9100";
            printer.makeAndModel = "Quorvel QVT-7460";
        }
        for (std::size_t bit = 0; bit < printer.rises.size(); ++bit) {
            if ((word >> bit & 1U) && !(printer.read && (printer.word >> bit & 1U)))
                ++printer.rises[bit];
        }
        printer.read = true;
        printer.word = word;
        printer.reachable = (word & 0x80U) == 0;
        printer.readingDuration = std::chrono::milliseconds(1);
    }

    std::vector<PrinterSample> snapshot() const
    {
        const std::lock_guard lock(m_mutex);
        std::vector<PrinterSample> printers;
        const auto now = std::chrono::system_clock::now();
        for (const auto &[name, printer] : m_printers) {
            printers.push_back(printer);
            printers.back().readAt = now - std::chrono::milliseconds(500);
        }
        return printers;
    }

private:
    mutable std::mutex m_mutex;
    std::map<std::string, PrinterSample> m_printers;
};

} // namespace

int main(int argc, char *argv[])
{
    std::string listenText = "127.0.0.1:0";
    if (argc == 3 && std::string_view(argv[1]) == "--listen") {
        listenText = argv[2];
    } else if (argc != 1) {
        std::cerr << "usage: ravelin-metrics-driver [--listen ADDRESS:PORT]\n";
        return 2;
    }
    std::string error;
    const std::optional<ListenAddress> listen = parseListenAddress(listenText, error);
    if (!listen) {
        std::cerr << "ravelin-metrics-driver: " << error << '\n';
        return 2;
    }

    ScriptedTable table;
    try {
        const MetricsServer server(
            *listen, [&table] { return table.snapshot(); }, "2.1.0");
        std::cout << "metrics " << listen->address << ':' << server.port() << "\nready"
                  << std::endl;
        std::string line;
        while (std::getline(std::cin, line)) {
            std::istringstream words(line);
            std::string command, name, word;
            words >> command >> name >> word;
            if (command == "quit")
                break;
            std::size_t used = 0;
            unsigned long value = 0;
            try {
                value = std::stoul(word, &used, 0);
            } catch (const std::exception &) {
                used = 0;
            }
            if (command != "word" || name.empty() || used == 0 || used != word.size() ||
                value > 0xFFFFFFFFUL) {
                std::cout << "error expected: word NAME WORD" << std::endl;
                continue;
            }
            table.setWord(name, static_cast<std::uint32_t>(value));
            std::cout << "ok" << std::endl;
        }
    } catch (const std::exception &failure) {
        std::cerr << "ravelin-metrics-driver: " << failure.what() << '\n';
        return 1;
    }
    return 0;
}
