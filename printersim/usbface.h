// SPDX-License-Identifier: MIT
#pragma once

// The printer simulator's USB face: receipt printers on an emulated USB bus, in this process,
// for the tests and the benchmark. umockdev's testbed makes the sysfs entries and device nodes
// that libusb finds (bus 1, a device per printer), and answers the usbdevfs calls on each node
// from the printer's scripted state (usbfs.c): the same Printer as the simulator's TCP port and
// pseudo-terminals (answers, faults, bytes received), plus what only USB has: the interface
// claimed by another process, the kernel's printer driver bound, bytes left waiting on the bulk
// IN endpoint, and a device node that may not be opened.
//
// The process must run with umockdev's preload library (umockdev-wrapper PROGRAM, or
// LD_PRELOAD=libumockdev-preload.so.0), which sends /sys and /dev to the testbed; without it
// UsbBus::start() fails and says so.

#include "printer.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;

namespace ravelin::printersim {

// Who a USB printer says it is, and how it is built.
struct UsbIdentity
{
    // The USB string descriptors; empty for none.
    std::string manufacturer = "Quorvel";
    std::string product = "QVT-7460";
    std::string serial = "A1B2C3";
    // The IEEE 1284 device ID it answers GET_DEVICE_ID with, without its length; empty: it
    // stalls the request.
    std::string deviceId = "MFG:Quorvel;MDL:QVT-7460;CMD:ESC/POS;CLS:PRINTER;";
    std::uint16_t vendorId = 0x1d6b;
    std::uint16_t productId = 0x7460;
    // The printer interface's number (a vendor interface comes before it when it is not 0) and
    // protocol: 2 bidirectional (a bulk IN endpoint for the answers), 1 unidirectional.
    std::uint8_t interfaceNumber = 0;
    std::uint8_t protocol = 2;
    // The kernel's printer driver (usblp) bound to the interface at first.
    bool kernelDriver = false;
};

class UsbPrinter
{
public:
    using Clock = std::chrono::steady_clock;

    UsbPrinter(const UsbIdentity &identity, int bus, int address);
    UsbPrinter(const UsbPrinter &) = delete;
    UsbPrinter &operator=(const UsbPrinter &) = delete;

    const UsbIdentity &identity() const { return m_identity; }
    // The device node, as a program sees it: /dev/bus/usb/BBB/DDD.
    std::string deviceNode() const;

    // A simulator command (answer, state, fault, received, reset; see Printer::run): its answer
    // line.
    std::string command(std::string_view line);
    // Another process holds the printer's interface (the print system's backend printing).
    void holdElsewhere(bool held);
    // Bytes waiting on the bulk IN endpoint, as if answered to a request nobody read: one
    // packet, which one transfer takes (each answer is a packet of its own).
    void leaveUnread(const std::vector<std::uint8_t> &bytes);

    // What was done to it since the last forgetCalls(), one line a call: "capabilities",
    // "driver N", "disconnect N", "claim N" (or "claim N: WHY" when refused), "release N",
    // "connect N", "discard", "close", "control RT RQ VALUE INDEX LENGTH" (hex),
    // "bulk-out HH HH..." and, for anything else (a reset, a configuration or alternate
    // setting, a cleared halt), "ioctl 0xCODE".
    std::vector<std::string> calls() const;
    void forgetCalls();
    // Whether a descriptor holds the printer interface, and when it was last let go.
    bool claimed() const;
    Clock::time_point releasedAt() const;
    // Whether the kernel's driver is bound to the printer interface.
    bool kernelDriverBound() const;
    // Bytes waiting on the bulk IN endpoint.
    std::size_t unreadBytes() const;

    // The usbdevfs handler's side (usbfs.h), called on umockdev's thread.
    void note(unsigned long request, int interface);
    int claim(const void *client, unsigned interface);
    int release(const void *client, unsigned interface);
    int driver(unsigned interface, char *name, std::size_t size);
    int disconnect(unsigned interface);
    int connect(unsigned interface);
    int control(const std::uint8_t *setup, std::uint8_t *data, std::size_t length);
    int bulkOut(std::uint8_t endpoint, const std::uint8_t *data, std::size_t length);
    int bulkIn(std::uint8_t endpoint, std::uint8_t *data, std::size_t length);
    void vanished(const void *client);

    // The descriptors the device has: device, configuration, interfaces, endpoints.
    std::vector<std::uint8_t> descriptors() const;

private:
    bool hasInterface(unsigned interface) const;
    int claimed(const void *client, unsigned interface); // claim() under the lock
    int stringDescriptor(unsigned index, std::uint8_t *data, std::size_t length) const;
    void record(std::string line);

    const UsbIdentity m_identity;
    const int m_bus;
    const int m_address;
    mutable std::mutex m_mutex;
    Printer m_printer;
    RequestReader m_reader;
    // What waits on the bulk IN endpoint, packet by packet: a transfer takes one.
    std::deque<std::vector<std::uint8_t>> m_unread;
    std::vector<std::string> m_calls;
    const void *m_holder = nullptr; // the descriptor that claimed the interface
    bool m_heldElsewhere = false;
    bool m_kernelDriver = false;
    Clock::time_point m_releasedAt{};
    Clock::time_point m_lastTrickle{};
};

// The emulated bus, and the testbed under it; one per process, made before libusb is started.
class UsbBus
{
public:
    UsbBus();
    ~UsbBus();
    UsbBus(const UsbBus &) = delete;
    UsbBus &operator=(const UsbBus &) = delete;

    // Makes the testbed; false, with the reason in error(), when the process does not run with
    // umockdev's preload library or the testbed cannot be made.
    bool start();
    const std::string &error() const { return m_error; }

    // Plugs a printer in; null (with the reason in error()) when it cannot be added.
    UsbPrinter *plug(const UsbIdentity &identity);
    // Makes the printer's device node one that may not be opened (mode 0000), or one that may.
    // (The superuser opens it all the same unless its thread drops CAP_DAC_OVERRIDE: see
    // WithoutOverridingFileModes.)
    bool setAccessible(const UsbPrinter &printer, bool accessible);

private:
    struct Device
    {
        std::unique_ptr<UsbPrinter> printer;
        UMockdevIoctlBase *handler = nullptr;
    };

    UMockdevTestbed *m_testbed = nullptr;
    std::vector<Device> m_devices;
    std::string m_root;
    std::string m_error;
};

// For the superuser, whom a file's mode does not stop: while it lives, the thread that made it
// (and the threads that thread starts meanwhile, which inherit it) opens files as any user does.
class WithoutOverridingFileModes
{
public:
    WithoutOverridingFileModes();
    ~WithoutOverridingFileModes();
    WithoutOverridingFileModes(const WithoutOverridingFileModes &) = delete;
    WithoutOverridingFileModes &operator=(const WithoutOverridingFileModes &) = delete;

private:
    struct Saved;
    std::unique_ptr<Saved> m_saved;
};

} // namespace ravelin::printersim
