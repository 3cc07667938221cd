// SPDX-License-Identifier: MIT
#pragma once

// Asking a printer itself, over the connection its queue's device URI names: the real-time
// status request DLE EOT n (the bytes 0x10 0x04 n) for n = 1 to 4, one at a time, each answered
// by one byte. Nothing else is ever sent. The connection is the call's own, opened non-blocking
// and close-on-exec, and closed (a serial line's settings restored) before the call returns.
//
// A serial line or device file carries one conversation at a time: every conversation with one,
// in any process, holds an advisory lock on it (flock(), exclusive) for the whole exchange. The
// line's settings are saved after the lock is taken and put back before it is released.

#include "boundedio.h"
#include "deviceuri.h"
#include "statusmapping.h"

#include <string>

namespace ravelin::qvlmstat {

struct DeviceReading
{
    // Done when all four requests were made (answered validly or not); TimedOut when the printer
    // gave no sign of life before the deadline; Failed for a refused connection, a closed one, a
    // missing device or one that may not be opened.
    Outcome outcome = Outcome::Failed;
    // A device file that is no character device (a queue that prints into a file): never asked.
    bool notADevice = false;
    // The device's lock was held by another conversation: nothing was sent (outcome Failed).
    bool busy = false;
    DeviceAnswers answers{};
    // Why not all four were answered validly, for a person ("127.0.0.1:9100 did not answer the
    // second status request within 800 ms", "/dev/ttyS0: permission denied"); empty when they
    // were.
    std::string why{};
};

// How a conversation with a serial line or device file takes its lock: waiting for it until the
// deadline (the library, whose caller wants this reading), or only when it is free at once (the
// monitor, which reads again next round).
enum class DeviceLock { Wait, Try };

// device is a NetworkDevice, SerialDevice or DeviceFile.
DeviceReading askDevice(const DeviceUri &device, const Deadline &deadline, Resolver resolver,
                        DeviceLock lock = DeviceLock::Wait);

// How a person would name the device: "HOST:PORT" ("[ADDRESS]:PORT" for IPv6), the path, or a
// USB printer's URI.
std::string deviceName(const DeviceUri &device);

} // namespace ravelin::qvlmstat
