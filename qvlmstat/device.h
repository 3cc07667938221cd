// SPDX-License-Identifier: MIT
#pragma once

// Asking a printer itself, over the connection its queue's device URI names: the real-time
// status request DLE EOT n (the bytes 0x10 0x04 n) for n = 1 to 4, one at a time, each answered
// by one byte. Nothing else is ever sent. The connection is the call's own, opened non-blocking
// and close-on-exec, and closed (a serial line's settings restored) before the call returns.

#include "boundedio.h"
#include "deviceuri.h"
#include "statusmapping.h"

namespace ravelin::qvlmstat {

struct DeviceReading
{
    // Done when all four requests were made (answered validly or not); TimedOut when the printer
    // gave no sign of life before the deadline; Failed for a refused connection, a closed one, a
    // missing device or one that may not be opened.
    Outcome outcome = Outcome::Failed;
    // A device file that is no character device (a queue that prints into a file): never asked.
    bool notADevice = false;
    DeviceAnswers answers{};
};

// device is a NetworkDevice, SerialDevice or DeviceFile.
DeviceReading askDevice(const DeviceUri &device, const Deadline &deadline, Resolver resolver);

} // namespace ravelin::qvlmstat
