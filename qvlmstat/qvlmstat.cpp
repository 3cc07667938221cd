// SPDX-License-Identifier: MIT
#include "qvlmstat.h"

#include "statusservice.h"

#include <algorithm>
#include <cstring>
#include <string>

// One service for the whole process: it remembers which peers were found unresponsive, so that
// calls in the next few seconds answer at once instead of waiting on them again, and the reason
// each queue last had, so that each change is written once. Besides, each thread keeps the reason
// of its own last call, for GetStatusReason.

namespace {

using ravelin::qvlmstat::PrinterErrorBit;
using ravelin::qvlmstat::ReasonedWord;
using ravelin::qvlmstat::StatusService;

StatusService &service()
{
    static StatusService instance{&std::chrono::steady_clock::now};
    return instance;
}

thread_local std::string lastReason;

int32_t answer(const ReasonedWord &word)
{
    lastReason = word.reason;
    return word.word;
}

int32_t failed()
{
    lastReason = "the status library ran out of memory";
    return PrinterErrorBit;
}

} // namespace

extern "C" int32_t GetLMStatus(void)
{
    try {
        return answer(service().defaultDestinationStatus());
    } catch (...) { // only memory exhaustion can throw; nothing may cross the C boundary
        return failed();
    }
}

extern "C" int32_t GetPrinterStatus(const char *name)
{
    try {
        return answer(service().printerStatus(name));
    } catch (...) {
        return failed();
    }
}

extern "C" size_t GetStatusReason(char *buffer, size_t size)
{
    const std::string &reason = lastReason;
    if (buffer && size > 0) {
        const size_t copied = std::min(reason.size(), size - 1);
        std::memcpy(buffer, reason.data(), copied);
        buffer[copied] = '\0';
    }
    return reason.size();
}
