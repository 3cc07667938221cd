// SPDX-License-Identifier: MIT
#pragma once

// Which connection reaches a queue's printer, read from the queue's device URI. Pure: no I/O,
// tested on its own.
//   socket://HOST[:PORT]           a network printer (port 9100 when none is given)
//   serial:DEVICE?baud=N[+bits=7|8][+parity=none|even|odd][+flow=none|soft|hard|dtrdsr]
//   file:DEVICE, parallel:DEVICE   a device file (file:/dev/x, file:///dev/x and
//                                  file://localhost/dev/x alike)
// Host, path and option values may be percent-encoded. Any other scheme names a printer that is
// never asked. A URI of one of these schemes that cannot be read (a bad port, baud rate or
// option value, a relative path, an encoded NUL) is Unreadable: its printer should be asked and
// cannot be. A printer on the print system's usb backend (usb://MAKE/MODEL?serial=...) is not
// asked through these connections: only the monitor reads it, as a UsbDevice of its own making.

#include <termios.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace ravelin::qvlmstat {

struct NetworkDevice
{
    std::string host; // a name or a numeric address, IPv6 without its brackets
    std::uint16_t port = 9100;
};

enum class Parity { None, Even, Odd };
enum class FlowControl { None, Soft, Hard, DtrDsr };

struct SerialDevice
{
    std::string path;
    speed_t speed = B9600;
    int bits = 8;
    Parity parity = Parity::None;
    FlowControl flow = FlowControl::None;
};

struct DeviceFile
{
    std::string path;
};

// A printer the print system's usb backend reaches, named by its queue's device URI; never
// made by parseDeviceUri().
struct UsbDevice
{
    std::string uri;
};

struct NotAsked
{
};
struct Unreadable
{
};

using DeviceUri =
    std::variant<NotAsked, Unreadable, NetworkDevice, SerialDevice, DeviceFile, UsbDevice>;

DeviceUri parseDeviceUri(std::string_view uri);

} // namespace ravelin::qvlmstat
