// SPDX-License-Identifier: MIT
#include "printerword.h"

#include <vector>

namespace ravelin::qvlmstat {

namespace {

// Adds what to the reason, which starts with the queue's name.
void addReason(ReasonedWord &word, std::string_view queue, std::string_view what)
{
    if (word.reason.empty())
        word.reason.append(queue).append(": ");
    else
        word.reason += "; ";
    word.reason += what;
}

// Whether the answer is there and has this bit set.
bool shows(const std::optional<std::uint8_t> &answer, int bit)
{
    return answer && ((*answer >> bit) & 1) != 0;
}

// Why deviceBits() found Printer Error in answers that were all given.
std::string answersError(const std::string &device, const DeviceAnswers &answers)
{
    const auto &[printer, offline, error, paper] = answers;
    if (shows(error, 5))
        return device + " reports an unrecoverable error";
    if (shows(error, 2))
        return device + " reports a recoverable error";
    if (shows(offline, 6))
        return device + " reports an error";
    if (shows(printer, 3))
        return device + " is offline";
    return device + " reports an error";
}

} // namespace

bool isOfTheSeries(const QueueReport &report)
{
    return report.name.find("QVT") != std::string::npos ||
           report.makeAndModel.find("QVT") != std::string::npos;
}

ReasonedWord schedulerWord(const QueueReport &report, std::string_view queue)
{
    if (!report.name.empty())
        queue = report.name;
    ReasonedWord word;
    if (report.outcome != Outcome::Done || !report.found) {
        addReason(word, queue, report.why.empty() ? "the scheduler gave no answer" : report.why);
        return word;
    }
    const std::vector<std::string_view> reasons(report.reasons.begin(), report.reasons.end());
    word.word = statusWord(report.state, reasons);
    word.reachable = true;
    word.reason.clear();
    if ((word.word & PrinterErrorBit) == 0)
        return word;
    if (stateBits(report.state) & PrinterErrorBit)
        addReason(word, queue, "the queue is stopped");
    for (const std::string_view keyword : reasons) {
        if (reasonBits(keyword) & PrinterErrorBit)
            addReason(word, queue, "the scheduler reports " + std::string(keyword));
    }
    return word;
}

DevicePlan devicePlan(const QueueReport &report)
{
    DevicePlan plan;
    if (report.outcome != Outcome::Done || !report.found || !isOfTheSeries(report))
        return plan;
    plan.device = parseDeviceUri(report.deviceUri);
    if (std::holds_alternative<NotAsked>(plan.device))
        return plan;
    if (std::holds_alternative<Unreadable>(plan.device)) {
        plan.step = DevicePlan::Step::Unreadable;
        return plan;
    }
    if (const auto *network = std::get_if<NetworkDevice>(&plan.device)) {
        plan.key = "printer " + network->host + " " + std::to_string(network->port);
        plan.step = DevicePlan::Step::Ask;
        plan.mayStaySilent = report.state == PrinterStateProcessing;
        return plan;
    }
    plan.key = "printer " + deviceName(plan.device);
    // A serial line or a device file carries the jobs too: it is asked only between them.
    plan.step = report.state == PrinterStateIdle ? DevicePlan::Step::Ask : DevicePlan::Step::NotNow;
    return plan;
}

ReasonedWord withDevice(std::string_view queue, ReasonedWord word, const DevicePlan &plan,
                        const DeviceReading *reading, std::string_view silentWhy)
{
    switch (plan.step) {
    case DevicePlan::Step::None:
    case DevicePlan::Step::NotNow:
        return word;
    case DevicePlan::Step::Unreadable:
        word.word |= PrinterErrorBit;
        word.reachable = false;
        addReason(word, queue, "its device URI cannot be read");
        return word;
    case DevicePlan::Step::Ask:
        break;
    }
    if (!reading) {
        // Found unresponsive a moment ago: its state is unknown, unless it may stay silent.
        if (plan.mayStaySilent)
            return word;
        word.word |= PrinterErrorBit;
        word.reachable = false;
        addReason(word, queue,
                  silentWhy.empty() ? deviceName(plan.device) + " did not answer" : silentWhy);
        return word;
    }
    if (reading->notADevice)
        return word;
    const bool answered = answeredAll(reading->answers);
    if (!answered && plan.mayStaySilent)
        return word;
    const StatusWord bits = deviceBits(reading->answers);
    word.word |= bits;
    word.reachable = word.reachable && answered;
    if (bits & PrinterErrorBit) {
        addReason(word, queue,
                  !reading->why.empty() ? reading->why
                  : answered            ? answersError(deviceName(plan.device), reading->answers)
                                        : deviceName(plan.device) + " did not answer");
    }
    return word;
}

} // namespace ravelin::qvlmstat
