// SPDX-License-Identifier: MIT
#include "statusservice.h"

#include "asciitext.h"
#include "device.h"
#include "deviceuri.h"
#include "scheduler.h"

#include <cups/cups.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace ravelin::qvlmstat {

namespace {

// The queue named by the Default line of an lpoptions file ("Default name[/instance]
// [options]"), read as libcups reads it: the first such line counts, and one that names no
// queue names none.
std::optional<std::string> lpoptionsDefault(const std::string &file)
{
    cups_file_t *options = cupsFileOpen(file.c_str(), "r");
    if (!options)
        return std::nullopt;
    std::string name;
    char line[8192];
    char *value = nullptr;
    int number = 0;
    while (cupsFileGetConf(options, line, sizeof line, &value, &number)) {
        if (equalsIgnoringCase(line, "default") && value) {
            name.assign(value, std::strcspn(value, " \t/"));
            break;
        }
    }
    cupsFileClose(options);
    if (name.empty())
        return std::nullopt;
    return name;
}

// The default destination that libcups finds before it asks the scheduler, in its order
// (cupsGetNamedDest() with no name): LPDEST; PRINTER unless it is "lp"; the Default line of the
// user's lpoptions, then of the system's in CUPS_SERVERROOT (which libcups ignores in a setuid
// or setgid program). None when none of them names one.
std::optional<std::string> localDefault()
{
    if (const char *lpdest = std::getenv("LPDEST"))
        return std::string(lpdest);
    if (const char *printer = std::getenv("PRINTER"); printer && std::strcmp(printer, "lp") != 0)
        return std::string(printer);
    if (const char *home = std::getenv("HOME")) {
        if (auto name = lpoptionsDefault(std::string(home) + "/.cups/lpoptions"))
            return name;
    }
    const char *serverRoot = std::getenv("CUPS_SERVERROOT");
    if (!serverRoot || (geteuid() != getuid() && getuid() != 0) || getegid() != getgid())
        serverRoot = "/etc/cups";
    return lpoptionsDefault(std::string(serverRoot) + "/lpoptions");
}

// Only a printer of the series is ever sent a byte: any other printer on a raw port would print
// the requests. The scheduler's spelling of the name counts, not the caller's (queue names are
// case-insensitive, "QVT" is not).
bool isOfTheSeries(const QueueReport &report)
{
    return report.name.find("QVT") != std::string::npos ||
           report.makeAndModel.find("QVT") != std::string::npos;
}

std::string printerKey(const DeviceUri &device)
{
    if (const auto *network = std::get_if<NetworkDevice>(&device))
        return "printer " + network->host + " " + std::to_string(network->port);
    if (const auto *line = std::get_if<SerialDevice>(&device))
        return "printer " + line->path;
    if (const auto *file = std::get_if<DeviceFile>(&device))
        return "printer " + file->path;
    return {};
}

void remember(PeerHealth &health, const std::string &peer, Outcome outcome)
{
    if (outcome == Outcome::TimedOut)
        health.unresponsive(peer);
    else
        health.answered(peer);
}

} // namespace

StatusWord StatusService::printerStatus(const char *name)
{
    if (!name)
        return PrinterErrorBit;
    const std::string_view text(name);
    const std::string queue(text.substr(0, text.find('/')));
    if (queue.empty())
        return PrinterErrorBit;
    return queueStatus(queue);
}

StatusWord StatusService::defaultDestinationStatus()
{
    // A default named locally is asked for like any queue. (cupsGetNamedDest() would resolve
    // it the same way, but its requests wait out a silent scheduler for a second.)
    if (const std::optional<std::string> name = localDefault())
        return printerStatus(name->c_str());
    // Otherwise the scheduler's default, whose attributes CUPS-Get-Default returns directly.
    return queueStatus({});
}

StatusWord StatusService::queueStatus(const std::string &queue)
{
    const Deadline deadline(CallBudget);
    const SchedulerAddress scheduler = SchedulerAddress::configured();
    const std::string peer = scheduler.key();
    if (!m_health.mayAsk(peer))
        return PrinterErrorBit;
    const QueueReport report = askScheduler(scheduler, queue, deadline, m_resolver);
    remember(m_health, peer, report.outcome);
    if (report.outcome != Outcome::Done || !report.found)
        return PrinterErrorBit;

    const std::vector<std::string_view> reasons(report.reasons.begin(), report.reasons.end());
    return withPrinterBits(report, statusWord(report.state, reasons), deadline);
}

StatusWord StatusService::withPrinterBits(const QueueReport &report, StatusWord word,
                                          const Deadline &deadline)
{
    if (!isOfTheSeries(report))
        return word;
    const DeviceUri device = parseDeviceUri(report.deviceUri);
    if (std::holds_alternative<NotAsked>(device))
        return word;
    if (std::holds_alternative<Unreadable>(device))
        return word | PrinterErrorBit;
    const bool network = std::holds_alternative<NetworkDevice>(device);
    // A serial line or a device file carries the jobs too: it is asked only between them, so
    // that no request lands inside a job.
    if (!network && report.state != PrinterStateIdle)
        return word;
    // A network printer busy printing may not answer; the scheduler's word, Printer Busy in it,
    // then stands alone. Any other printer's silence leaves its state unknown.
    const bool mayStaySilent = network && report.state == PrinterStateProcessing;

    const std::string peer = printerKey(device);
    if (!m_health.mayAsk(peer))
        return mayStaySilent ? word : word | PrinterErrorBit;
    const DeviceReading reading = askDevice(device, deadline, m_resolver);
    remember(m_health, peer, reading.outcome);
    if (reading.notADevice)
        return word;
    if (!answeredAll(reading.answers) && mayStaySilent)
        return word;
    return word | deviceBits(reading.answers);
}

} // namespace ravelin::qvlmstat
