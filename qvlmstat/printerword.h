// SPDX-License-Identifier: MIT
#pragma once

// How a queue's status word is made from what the scheduler says of the queue and what its
// printer answers, and why it reads Printer Error. The library, for one call, and the monitor,
// for each reading of a device, both make words this way; each asks the scheduler and the
// printer in its own time.

#include "device.h"
#include "deviceuri.h"
#include "scheduler.h"
#include "statusmapping.h"

#include <string>
#include <string_view>

namespace ravelin::qvlmstat {

// A word, and why it has Printer Error: "QUEUE: what happened[; what else]", empty when it has
// no Printer Error.
struct ReasonedWord
{
    StatusWord word = PrinterErrorBit;
    std::string reason;
    // Everything asked gave what was asked of it (the scheduler and, when asked, the printer).
    bool reachable = false;
};

// Only a printer of the series is ever sent a byte: any other printer on a raw port would print
// the requests. The scheduler's spelling of the name counts, not the caller's (queue names are
// case-insensitive, "QVT" is not).
bool isOfTheSeries(const QueueReport &report);

// The scheduler's word for the queue its report is about: Printer Error alone when the
// scheduler failed or knows no such queue. queue names the queue in the reason when the report
// has no name of its own.
ReasonedWord schedulerWord(const QueueReport &report, std::string_view queue);

// What is done about the printer itself, from the scheduler's report on its queue.
struct DevicePlan
{
    enum class Step {
        None,       // no printer to ask: not of the series, or a connection that is not asked
        Unreadable, // a device URI of a kind that is asked, which cannot be read
        NotNow,     // a serial line or device file whose queue is not idle: no request may land
                    // inside a job
        Ask,
    };
    Step step = Step::None;
    DeviceUri device;
    // Which device it is, for telling devices apart and remembering unresponsive ones ("printer
    // 127.0.0.1 9100", "printer /dev/ttyS0"); empty for None and Unreadable.
    std::string key;
    // A network printer whose queue is printing: busy with the job, it may not answer, and the
    // scheduler's word (Printer Busy in it) then stands alone.
    bool mayStaySilent = false;
};
DevicePlan devicePlan(const QueueReport &report);

// The queue's word: its scheduler's word (schedulerWord()) with what the printer answered.
// reading is null when the printer was not asked, by its plan or because it was found
// unresponsive a moment ago; silentWhy then says how it was found.
ReasonedWord withDevice(std::string_view queue, ReasonedWord word, const DevicePlan &plan,
                        const DeviceReading *reading, std::string_view silentWhy = {});

} // namespace ravelin::qvlmstat
