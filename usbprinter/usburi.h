// SPDX-License-Identifier: MIT
#pragma once

// The print system's names for USB printers, and how a printer says who it is. Pure: no I/O,
// tested on its own.
//
// A queue on the print system's usb backend has a device URI
//   usb://MAKE/MODEL?serial=SERIAL[&interface=N]
// (?interface=N alone when the printer has no serial number, neither option when it has
// neither). MAKE and MODEL come from the printer's IEEE 1284 device ID (MFG or MANUFACTURER,
// MDL or MODEL), else from its USB manufacturer and product strings; SERIAL from its USB serial
// number string, else from the device ID (SERIALNUMBER, SERN or SN); interface= names the
// printer interface when it is not interface 0.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ravelin::usbprinter {

struct UsbUri
{
    std::string make;  // decoded
    std::string model; // decoded
    std::optional<std::string> serial;
    std::optional<unsigned> interface;

    bool operator==(const UsbUri &) const = default;
};

// The parts of a usb: device URI, decoded; none for another scheme or one that cannot be read
// (no make, a broken escape or an encoded NUL, an interface that is no number).
std::optional<UsbUri> parseUsbUri(std::string_view uri);

// The URI of these parts, percent-encoded as the print system encodes the URIs it lists: in
// every part, blanks, control characters, '%' and bytes beyond ASCII; in the make (the URI's
// host) also the characters  " # / : < > ? @ [ \ ] ^ ` { | }  - except in a make that looks like
// an IPv6 address (hexadecimal digits and ':'), which is written in brackets as it is.
std::string usbUriText(const UsbUri &uri);

// Whether a queue's device URI names this printer, compared as the print system compares them:
// make and model always, the serial number and the interface only where both sides have one.
bool sameDevice(const UsbUri &queue, const UsbUri &printer);

// The value of the first of keys (written in lower case; the ID's keys may be in any case) in
// an IEEE 1284 device ID ("KEY:value;KEY:value;..."), without blanks at either end; none when no
// key has a value.
std::optional<std::string> deviceIdValue(std::string_view deviceId,
                                         std::initializer_list<std::string_view> keys);

// The device ID in the answer to the printer class's GET_DEVICE_ID request: the text after its
// two-byte length, which counts itself and is big-endian (some printers write it little-endian;
// a length that fits neither way is read as "all that came"), up to a NUL.
std::string deviceIdText(std::span<const std::uint8_t> answer);

// What the printer's USB string descriptors say; empty where it has none.
struct UsbStrings
{
    std::string manufacturer;
    std::string product;
    std::string serial;
};

// The URI the print system gives the printer interface with this device ID and these strings.
// A make or model found nowhere is "Unknown".
UsbUri printerUri(std::string_view deviceId, const UsbStrings &strings, unsigned interface);

} // namespace ravelin::usbprinter
