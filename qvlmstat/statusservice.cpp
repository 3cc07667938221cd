// SPDX-License-Identifier: MIT
#include "statusservice.h"

#include "asciitext.h"
#include "device.h"
#include "deviceuri.h"
#include "monitorprotocol.h"
#include "scheduler.h"

#include <cups/cups.h>

#include <unistd.h>

#include <cstdio>
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

void remember(PeerHealth &health, const std::string &peer, Outcome outcome, const std::string &why)
{
    if (outcome == Outcome::TimedOut)
        health.unresponsive(peer, why);
    else
        health.answered(peer);
}

ReasonedWord noQueue()
{
    return {PrinterErrorBit, "no queue was named", false};
}

} // namespace

void StatusService::toStandardError(const std::string &line)
{
    const std::string text = "ravelin QVLMSTAT: " + protocol::printable(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}

ReasonedWord StatusService::printerStatus(const char *name)
{
    if (!name)
        return noQueue();
    const std::string_view text(name);
    const std::string queue(text.substr(0, text.find('/')));
    if (queue.empty())
        return noQueue();
    ReasonedWord word;
    if (std::optional<ReasonedWord> answered = fromMonitor(protocol::statusRequest(queue)))
        word = std::move(*answered);
    else
        word = queueStatus(queue);
    tell(queue, word);
    return word;
}

ReasonedWord StatusService::defaultDestinationStatus()
{
    // A default named locally is asked for like any queue: the monitor, a system service, cannot
    // see the caller's environment and lpoptions. (cupsGetNamedDest() would resolve it the same
    // way, but its requests wait out a silent scheduler for a second.)
    if (const std::optional<std::string> name = localDefault())
        return printerStatus(name->c_str());
    // Otherwise the scheduler's default, whose attributes CUPS-Get-Default returns directly.
    ReasonedWord word;
    if (std::optional<ReasonedWord> answered = fromMonitor(protocol::defaultRequest()))
        word = std::move(*answered);
    else
        word = queueStatus({});
    tell({}, word);
    return word;
}

std::optional<ReasonedWord> StatusService::fromMonitor(const std::string &request)
{
    const std::optional<std::string> socket = m_monitorSocket ? m_monitorSocket() : std::nullopt;
    if (!socket || request.empty())
        return std::nullopt;
    const std::string peer = "monitor " + *socket;
    if (!m_health.mayAsk(peer))
        return std::nullopt;
    const MonitorReply reply = askMonitor(*socket, request, Deadline(MonitorBudget));
    // Mute: not asked again for a while. Absent (no socket, refused): asked again next call,
    // which costs nothing.
    if (reply.outcome == Outcome::TimedOut)
        m_health.unresponsive(peer);
    else if (reply.outcome == Outcome::Done)
        m_health.answered(peer);
    if (reply.outcome != Outcome::Done)
        return std::nullopt;
    // Anything but a word (unknown, pending, none, an error, a line of no sense): asked directly.
    protocol::StatusAnswer answer = protocol::parseStatusAnswer(reply.line);
    if (answer.kind != protocol::StatusAnswer::Kind::Ok)
        return std::nullopt;
    const bool clear = (answer.word & PrinterErrorBit) == 0;
    if (clear)
        answer.reason.clear();
    else if (answer.reason.empty())
        answer.reason = answer.name + ": the language monitor gave no reason";
    return ReasonedWord{answer.word, std::move(answer.reason), clear};
}

ReasonedWord StatusService::queueStatus(const std::string &queue)
{
    const std::string_view shownAs =
        queue.empty() ? std::string_view("the default destination") : std::string_view(queue);
    const Deadline deadline(CallBudget);
    const SchedulerAddress scheduler = SchedulerAddress::configured();
    const std::string peer = scheduler.key();
    if (std::string why; !m_health.mayAsk(peer, &why)) {
        ReasonedWord word;
        word.reason = std::string(shownAs) + ": " + why;
        return word;
    }
    const QueueReport report = askScheduler(scheduler, queue, deadline, m_resolver);
    remember(m_health, peer, report.outcome, report.why);
    const ReasonedWord word = schedulerWord(report, shownAs);
    const std::string_view name = report.name.empty() ? shownAs : report.name;
    const DevicePlan plan = devicePlan(report);
    if (plan.step != DevicePlan::Step::Ask)
        return withDevice(name, word, plan, nullptr);
    if (std::string why; !m_health.mayAsk(plan.key, &why))
        return withDevice(name, word, plan, nullptr, why);
    const DeviceReading reading = askDevice(plan.device, deadline, m_resolver, DeviceLock::Wait);
    remember(m_health, plan.key, reading.outcome, reading.why);
    return withDevice(name, word, plan, &reading);
}

void StatusService::tell(const std::string &queue, const ReasonedWord &word)
{
    const std::string key = lowerCased(queue);
    std::string line;
    {
        const std::lock_guard lock(m_reasonsMutex);
        const auto known = m_reasons.find(key);
        if (word.reason.empty()) {
            if (known == m_reasons.end())
                return;
            // The name as the reason wrote it: up to ": ", which no queue name holds.
            line = known->second.substr(0, known->second.find(": ")) + ": answering again";
            m_reasons.erase(known);
        } else {
            if (known != m_reasons.end() && known->second == word.reason)
                return;
            if (known == m_reasons.end() && m_reasons.size() >= RememberedReasons)
                m_reasons.clear(); // a caller naming endless queues: some lines come twice
            m_reasons[key] = word.reason;
            line = word.reason;
        }
    }
    if (m_reasonLines)
        m_reasonLines(line);
}

} // namespace ravelin::qvlmstat
