// SPDX-License-Identifier: MIT
#pragma once

// Reading a USB receipt printer's status between jobs, the way the print system's usb backend
// leaves it: found as the backend finds it, asked briefly, nothing held.
//
// A reading finds the printer interface that a queue's device URI names (usburi.h) among the
// printer-class interfaces on the USB buses (class 7, subclass 1, protocol 1 or 2), opens the
// device, unbinds the kernel's printer driver if it is bound, claims the interface, throws away
// bytes left waiting on its bulk IN endpoint, sends the real-time status request DLE EOT n for
// n = 1 to 4 one at a time, reading each answer before the next request, then releases the
// interface, binds the kernel's driver again if it was bound, and closes the device. Nothing
// else is ever sent but the standard requests for descriptors and the printer class's
// GET_DEVICE_ID; the device is never reset. The interface is held for the exchange only
// (milliseconds), so that a job starting meanwhile finds the printer free, or retries.
//
// Ask only while the printer's queue is idle: a request written while a job prints would land
// inside the job.

#include "boundedio.h"
#include "statusmapping.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace ravelin::usbprinter {

enum class UsbResult {
    // All four requests were made and answered; answers holds the valid ones.
    Read,
    // The printer gave no answer to a request before the deadline (answers holds those before).
    TimedOut,
    // The printer's interface is held by another program (the backend printing a job, another
    // tool): not an error, and the printer was not asked.
    Busy,
    // A USB printer that may be the queue's cannot be opened for lack of permission.
    PermissionDenied,
    // No connected printer interface matches the URI.
    NotFound,
    // Anything else: not a usb: URI, USB cannot be used, the printer has no way back
    // (unidirectional), a transfer failed, the printer went away.
    Failed,
};

struct UsbReading
{
    UsbResult result = UsbResult::Failed;
    qvlmstat::DeviceAnswers answers{};
    // Why the reading is not four valid answers, in words for a log, naming the device node or
    // the URI (for PermissionDenied also how to grant access); empty when it is.
    std::string why;
    // The device node of the printer found (/dev/bus/usb/BBB/DDD), or, for PermissionDenied,
    // the first that could not be opened; empty when none.
    std::string device;
};

// The bits the printer adds to its queue's word: none while another program holds it (the
// scheduler's word stands alone), else those of its answers, with Printer Error when one of the
// four is missing (deviceBits) - as for NotFound, PermissionDenied and Failed, which have none.
qvlmstat::StatusWord deviceWord(const UsbReading &reading);

class UsbPrinters
{
public:
    // Time kept back from a reading's deadline for letting go of the printer (releasing the
    // interface, binding the kernel's driver again), so that the interface is free before the
    // deadline even when the printer is silent.
    static constexpr std::chrono::milliseconds ReleaseReserve{50};
    // How long bytes left waiting on the bulk IN endpoint are given to arrive before the first
    // request; every packet that arrives starts another wait as long.
    static constexpr std::chrono::microseconds DrainWindow{500};

    UsbPrinters();
    ~UsbPrinters();
    UsbPrinters(const UsbPrinters &) = delete;
    UsbPrinters &operator=(const UsbPrinters &) = delete;

    // Reads the printer that deviceUri names, returning before the deadline (its last
    // ReleaseReserve goes to letting go). Callable from several threads at once, for
    // different printers.
    UsbReading ask(std::string_view deviceUri, const qvlmstat::Deadline &deadline);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace ravelin::usbprinter
