// SPDX-License-Identifier: MIT
#include "usbdevicekind.h"

#include "printertable.h"
#include "usbprinters.h"
#include "usburi.h"

namespace ravelin::monitor {

using qvlmstat::DevicePlan;
using qvlmstat::DeviceReading;
using qvlmstat::Outcome;
using usbprinter::UsbResult;

namespace {

std::optional<DevicePlan> usbPlan(const qvlmstat::QueueReport &report)
{
    if (schemeOf(report.deviceUri) != "usb")
        return std::nullopt;
    // Only a printer of the series is ever sent a byte; the others keep the scheduler's word.
    DevicePlan plan;
    if (report.outcome != Outcome::Done || !report.found || !qvlmstat::isOfTheSeries(report))
        return plan;
    const std::optional<usbprinter::UsbUri> uri = usbprinter::parseUsbUri(report.deviceUri);
    if (!uri) {
        plan.step = DevicePlan::Step::Unreadable;
        return plan;
    }
    plan.device = qvlmstat::UsbDevice{report.deviceUri};
    // The URI as the print system writes it, so that queues that spell one printer's URI
    // differently share its reader.
    plan.key = "printer " + usbprinter::usbUriText(*uri);
    // The backend claims the printer only while a job prints: a request sent then would land
    // inside the job.
    plan.step = report.state == qvlmstat::PrinterStateIdle ? DevicePlan::Step::Ask
                                                           : DevicePlan::Step::NotNow;
    return plan;
}

DeviceReading readUsb(usbprinter::UsbPrinters &usb, const DevicePlan &plan,
                      const qvlmstat::Deadline &deadline)
{
    const auto *device = std::get_if<qvlmstat::UsbDevice>(&plan.device);
    if (device == nullptr)
        return {.why = "no USB printer to ask"};
    const usbprinter::UsbReading usbReading = usb.ask(device->uri, deadline);
    DeviceReading reading{.answers = usbReading.answers, .why = usbReading.why};
    switch (usbReading.result) {
    case UsbResult::Read:
        reading.outcome = Outcome::Done;
        break;
    case UsbResult::TimedOut:
        reading.outcome = Outcome::TimedOut;
        break;
    case UsbResult::Busy:
        reading.busy = true;
        break;
    case UsbResult::PermissionDenied: // the reason says how to grant access
    case UsbResult::NotFound:
    case UsbResult::Failed:
        break;
    }
    return reading;
}

} // namespace

DeviceKind usbDeviceKind(usbprinter::UsbPrinters &usb)
{
    return {
        .plan = &usbPlan,
        .read = [&usb](const DevicePlan &plan,
                       const qvlmstat::Deadline &deadline) { return readUsb(usb, plan, deadline); },
        .busy = DeviceKind::Busy::SchedulerWord,
    };
}

} // namespace ravelin::monitor
