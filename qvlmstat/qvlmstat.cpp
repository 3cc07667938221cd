// SPDX-License-Identifier: MIT
#include "qvlmstat.h"

#include "statusservice.h"

// One service for the whole process: it remembers which peers were found unresponsive, so that
// calls in the next few seconds answer at once instead of waiting on them again. Nothing else is
// kept from one call to the next.

namespace {

using ravelin::qvlmstat::PrinterErrorBit;
using ravelin::qvlmstat::StatusService;

StatusService &service()
{
    static StatusService instance{&std::chrono::steady_clock::now};
    return instance;
}

} // namespace

extern "C" int32_t GetLMStatus(void)
{
    try {
        return service().defaultDestinationStatus();
    } catch (...) { // only memory exhaustion can throw; nothing may cross the C boundary
        return PrinterErrorBit;
    }
}

extern "C" int32_t GetPrinterStatus(const char *name)
{
    try {
        return service().printerStatus(name);
    } catch (...) {
        return PrinterErrorBit;
    }
}
