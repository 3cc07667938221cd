// SPDX-License-Identifier: MIT
// One reading of a USB receipt printer through the USB reader (UsbPrinters::ask: find the
// printer by its URI, claim, drain, DLE EOT 1 to 4, release), beside the emulation's floor: a
// bare libusb client that finds the same printer by its vendor and product IDs, opens it,
// claims its interface, makes the same four exchanges and lets go. Both read the same printer,
// emulated in this process by the simulator's USB face, in turns, in the same run; each keeps
// its libusb context from one reading to the next. Prints key=value lines.
//
//   bench_usbstatus [READINGS]      (under umockdev's preload library: LD_PRELOAD or
//                                    umockdev-wrapper)

#include "timing.h"
#include "usbface.h"
#include "usbprinters.h"

#include <libusb.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using bench::Clock;
using bench::median;
using bench::microsecondsSince;
using ravelin::qvlmstat::Deadline;
using ravelin::usbprinter::UsbPrinters;
using ravelin::usbprinter::UsbReading;
using ravelin::usbprinter::UsbResult;

constexpr unsigned TimeoutMs = 800;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "bench_usbstatus: %s\n", what);
    std::exit(1);
}

// The bare client: the four exchanges and what they need, nothing else. How many valid answers
// it read.
int bareReading(libusb_context *context, std::uint16_t vendor, std::uint16_t product)
{
    libusb_device_handle *handle = libusb_open_device_with_vid_pid(context, vendor, product);
    if (handle == nullptr)
        return -1;
    int valid = 0;
    if (libusb_claim_interface(handle, 0) == 0) {
        for (unsigned char n = 1; n <= 4; ++n) {
            std::array<unsigned char, 3> request = {0x10, 0x04, n};
            std::array<unsigned char, 64> answer{};
            int sent = 0, got = 0;
            if (libusb_bulk_transfer(handle, 0x01, request.data(), 3, &sent, TimeoutMs) == 0 &&
                libusb_bulk_transfer(handle, 0x82, answer.data(), int(answer.size()), &got,
                                     TimeoutMs) == 0 &&
                got == 1 && (answer[0] & 0x93) == 0x12) {
                ++valid;
            }
        }
        libusb_release_interface(handle, 0);
    }
    libusb_close(handle);
    return valid;
}

} // namespace

int main(int argc, char *argv[])
{
    const int readings = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (readings < 1)
        fail("usage: bench_usbstatus [READINGS]");

    ravelin::printersim::UsbBus bus;
    if (!bus.start())
        fail(bus.error().c_str());
    const ravelin::printersim::UsbIdentity identity;
    ravelin::printersim::UsbPrinter *printer = bus.plug(identity);
    if (printer == nullptr)
        fail(bus.error().c_str());
    // Paper near its end: a word that only the printer can give.
    if (printer->command("state paper-near-end") != "ok")
        fail("the emulated printer did not take its state");
    const char *const uri = "usb://Quorvel/QVT-7460?serial=A1B2C3";

    UsbPrinters ours;
    libusb_context *context = nullptr;
    if (libusb_init(&context) != 0)
        fail("libusb did not start");
    // Each once, unmeasured: the reader learns the printer's name, both contexts list the bus.
    const UsbReading first = ours.ask(uri, Deadline(std::chrono::milliseconds(TimeoutMs)));
    if (first.result != UsbResult::Read || deviceWord(first) != 0x0010)
        fail("the reader did not read the emulated printer");
    if (bareReading(context, identity.vendorId, identity.productId) != 4)
        fail("the bare client did not read the emulated printer");

    std::vector<double> oursTimes, floorTimes;
    for (int i = 0; i < readings; ++i) {
        auto start = Clock::now();
        const UsbReading reading = ours.ask(uri, Deadline(std::chrono::milliseconds(TimeoutMs)));
        oursTimes.push_back(microsecondsSince(start));
        if (reading.result != UsbResult::Read || deviceWord(reading) != 0x0010)
            fail("a reading went wrong");
        start = Clock::now();
        const int valid = bareReading(context, identity.vendorId, identity.productId);
        floorTimes.push_back(microsecondsSince(start));
        if (valid != 4)
            fail("a bare reading went wrong");
    }
    libusb_exit(context);

    const double oursUs = median(oursTimes), floorUs = median(floorTimes);
    std::printf("usb.word=0x%04X\nusb.readings=%d\nusb.ours_us=%.0f\nusb.floor_us=%.0f\n"
                "usb.ratio=%.2f\n",
                unsigned(deviceWord(first)), readings, oursUs, floorUs, oursUs / floorUs);
    return 0;
}
