// SPDX-License-Identifier: MIT
#include "usbface.h"

#include "usbfs.h"

#include <glib.h>
#include <umockdev.h>

#include <linux/capability.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ravelin::printersim {

namespace {

constexpr std::uint8_t EndpointOut = 0x01;
constexpr std::uint8_t EndpointIn = 0x82;
constexpr std::uint16_t MaxPacket = 64;
constexpr std::uint8_t PrinterClass = 7;
constexpr std::uint8_t PrinterSubclass = 1;
// String descriptor indexes.
constexpr std::uint8_t ManufacturerString = 1;
constexpr std::uint8_t ProductString = 2;
constexpr std::uint8_t SerialString = 3;
// How often a trickling printer has another invalid byte waiting.
constexpr std::chrono::milliseconds TricklePeriod{20};
constexpr std::uint8_t TrickleByte = 0xff;

std::string hex(const std::uint8_t *bytes, std::size_t count, const char *separator)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        if (i > 0)
            text += separator;
        text += digits;
    }
    return text;
}

std::string upperHex(const std::vector<std::uint8_t> &bytes)
{
    std::string text;
    for (const std::uint8_t byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += digits;
    }
    return text;
}

void put16(std::vector<std::uint8_t> &bytes, std::uint16_t value)
{
    bytes.push_back(static_cast<std::uint8_t>(value & 0xff));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

// The code points of UTF-8 text in the Basic Multilingual Plane; anything else is '?'.
std::vector<std::uint16_t> utf16(std::string_view text)
{
    std::vector<std::uint16_t> units;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >> 5 == 6 ? 2 : lead >> 4 == 14 ? 3 : 0;
        if (length == 0 || i + length > text.size()) {
            units.push_back('?');
            ++i;
            continue;
        }
        unsigned value = length == 1 ? lead : lead & (length == 2 ? 0x1fu : 0x0fu);
        for (std::size_t k = 1; k < length; ++k)
            value = value << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3fu);
        units.push_back(static_cast<std::uint16_t>(value));
        i += length;
    }
    return units;
}

UsbPrinter *printerOf(void *printer)
{
    return static_cast<UsbPrinter *>(printer);
}

// The usbdevfs handler's calls, passed on to the printer that .printer points to.
constexpr UsbfsPrinter UsbfsCalls = {
    .printer = nullptr,
    .note = [](void *p, unsigned long request,
               int interface) { printerOf(p)->note(request, interface); },
    .claim = [](void *p, const void *client,
                unsigned interface) { return printerOf(p)->claim(client, interface); },
    .release = [](void *p, const void *client,
                  unsigned interface) { return printerOf(p)->release(client, interface); },
    .driver = [](void *p, unsigned interface, char *name,
                 size_t size) { return printerOf(p)->driver(interface, name, size); },
    .disconnect = [](void *p, unsigned interface) { return printerOf(p)->disconnect(interface); },
    .connect = [](void *p, unsigned interface) { return printerOf(p)->connect(interface); },
    .control = [](void *p, const uint8_t *setup, uint8_t *data,
                  size_t length) { return printerOf(p)->control(setup, data, length); },
    .bulkOut = [](void *p, uint8_t endpoint, const uint8_t *data,
                  size_t length) { return printerOf(p)->bulkOut(endpoint, data, length); },
    .bulkIn = [](void *p, uint8_t endpoint, uint8_t *data,
                 size_t length) { return printerOf(p)->bulkIn(endpoint, data, length); },
    .vanished = [](void *p, const void *client) { printerOf(p)->vanished(client); },
};

} // namespace

UsbPrinter::UsbPrinter(const UsbIdentity &identity, int bus, int address)
    : m_identity(identity)
    , m_bus(bus)
    , m_address(address)
    , m_kernelDriver(identity.kernelDriver)
{}

std::string UsbPrinter::deviceNode() const
{
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", m_bus, m_address);
    return node;
}

std::string UsbPrinter::command(std::string_view line)
{
    const std::lock_guard lock(m_mutex);
    const Outcome outcome = m_printer.run(line);
    if (outcome.resetDone)
        m_reader.restart();
    // Answers that no one read before are no answers to what comes next.
    if (outcome.resetDone || outcome.faultChanged)
        m_unread.clear();
    return outcome.reply;
}

void UsbPrinter::holdElsewhere(bool held)
{
    const std::lock_guard lock(m_mutex);
    m_heldElsewhere = held;
}

void UsbPrinter::leaveUnread(const std::vector<std::uint8_t> &bytes)
{
    const std::lock_guard lock(m_mutex);
    if (!bytes.empty())
        m_unread.push_back(bytes);
}

std::vector<std::string> UsbPrinter::calls() const
{
    const std::lock_guard lock(m_mutex);
    return m_calls;
}

void UsbPrinter::forgetCalls()
{
    const std::lock_guard lock(m_mutex);
    m_calls.clear();
}

bool UsbPrinter::claimed() const
{
    const std::lock_guard lock(m_mutex);
    return m_holder != nullptr;
}

UsbPrinter::Clock::time_point UsbPrinter::releasedAt() const
{
    const std::lock_guard lock(m_mutex);
    return m_releasedAt;
}

bool UsbPrinter::kernelDriverBound() const
{
    const std::lock_guard lock(m_mutex);
    return m_kernelDriver;
}

std::size_t UsbPrinter::unreadBytes() const
{
    const std::lock_guard lock(m_mutex);
    std::size_t count = 0;
    for (const std::vector<std::uint8_t> &packet : m_unread)
        count += packet.size();
    return count;
}

void UsbPrinter::record(std::string line)
{
    // Bounded like the simulator's record of bytes, so that a runaway caller cannot exhaust
    // memory.
    if (m_calls.size() < 65536)
        m_calls.push_back(std::move(line));
}

void UsbPrinter::note(unsigned long request, int interface)
{
    const std::lock_guard lock(m_mutex);
    const char *name = nullptr;
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES:
        record("capabilities");
        return;
    case USBDEVFS_DISCARDURB:
        record("discard");
        return;
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
        return; // recorded with their outcome
    case USBDEVFS_GETDRIVER:
        name = "driver";
        break;
    case USBDEVFS_DISCONNECT:
        name = "disconnect";
        break;
    case USBDEVFS_CONNECT:
        name = "connect";
        break;
    default:
        break;
    }
    char line[48];
    if (name != nullptr)
        std::snprintf(line, sizeof line, "%s %d", name, interface);
    else
        std::snprintf(line, sizeof line, "ioctl 0x%lx", request);
    record(line);
}

bool UsbPrinter::hasInterface(unsigned interface) const
{
    return interface <= m_identity.interfaceNumber;
}

int UsbPrinter::claim(const void *client, unsigned interface)
{
    const std::lock_guard lock(m_mutex);
    const int error = claimed(client, interface);
    char line[96];
    if (error == 0)
        std::snprintf(line, sizeof line, "claim %u", interface);
    else
        std::snprintf(line, sizeof line, "claim %u: %s", interface, std::strerror(error));
    record(line);
    return error;
}

int UsbPrinter::claimed(const void *client, unsigned interface)
{
    if (!hasInterface(interface))
        return ENOENT;
    if (interface != m_identity.interfaceNumber)
        return 0; // the vendor interface is nobody else's
    if (m_holder == client)
        return 0;
    if (m_holder != nullptr || m_heldElsewhere || m_kernelDriver)
        return EBUSY;
    m_holder = client;
    return 0;
}

int UsbPrinter::release(const void *client, unsigned interface)
{
    const std::lock_guard lock(m_mutex);
    char line[32];
    std::snprintf(line, sizeof line, "release %u", interface);
    record(line);
    if (!hasInterface(interface))
        return ENOENT;
    if (interface != m_identity.interfaceNumber)
        return 0;
    if (m_holder != client)
        return EINVAL;
    m_holder = nullptr;
    m_releasedAt = Clock::now();
    return 0;
}

int UsbPrinter::driver(unsigned interface, char *name, std::size_t size)
{
    const std::lock_guard lock(m_mutex);
    if (!hasInterface(interface))
        return ENOENT;
    const char *bound = nullptr;
    if (interface == m_identity.interfaceNumber) {
        if (m_holder != nullptr || m_heldElsewhere)
            bound = "usbfs";
        else if (m_kernelDriver)
            bound = "usblp";
    }
    if (bound == nullptr)
        return ENODATA;
    std::snprintf(name, size, "%s", bound);
    return 0;
}

int UsbPrinter::disconnect(unsigned interface)
{
    const std::lock_guard lock(m_mutex);
    if (!hasInterface(interface))
        return ENOENT;
    if (interface != m_identity.interfaceNumber || !m_kernelDriver)
        return ENODATA;
    m_kernelDriver = false;
    return 0;
}

int UsbPrinter::connect(unsigned interface)
{
    const std::lock_guard lock(m_mutex);
    if (!hasInterface(interface))
        return ENOENT;
    if (interface != m_identity.interfaceNumber)
        return 0;
    // The kernel binds its driver to an interface that no driver holds (a descriptor that
    // claimed it counts as one), if it has a driver for it.
    if (m_holder != nullptr || m_heldElsewhere || m_kernelDriver)
        return EBUSY;
    m_kernelDriver = m_identity.kernelDriver;
    return 0;
}

int UsbPrinter::stringDescriptor(unsigned index, std::uint8_t *data, std::size_t length) const
{
    std::vector<std::uint8_t> descriptor = {0, 3};
    if (index == 0) {
        put16(descriptor, 0x0409); // English (United States), the one language
    } else {
        const std::string *text = index == ManufacturerString ? &m_identity.manufacturer
                                  : index == ProductString    ? &m_identity.product
                                  : index == SerialString     ? &m_identity.serial
                                                              : nullptr;
        if (text == nullptr || text->empty())
            return -EPIPE;
        for (const std::uint16_t unit : utf16(*text)) {
            if (descriptor.size() + 2 > 255)
                break;
            put16(descriptor, unit);
        }
    }
    descriptor[0] = static_cast<std::uint8_t>(descriptor.size());
    const std::size_t count = std::min(length, descriptor.size());
    std::copy_n(descriptor.begin(), count, data);
    return static_cast<int>(count);
}

int UsbPrinter::control(const std::uint8_t *setup, std::uint8_t *data, std::size_t length)
{
    const std::lock_guard lock(m_mutex);
    const std::uint8_t requestType = setup[0];
    const std::uint8_t request = setup[1];
    const unsigned value = setup[2] | unsigned(setup[3]) << 8;
    const unsigned index = setup[4] | unsigned(setup[5]) << 8;
    char line[64];
    std::snprintf(line, sizeof line, "control %02x %02x %04x %04x %zu", requestType, request, value,
                  index, length);
    record(line);

    if (requestType == 0x80 && request == 6) { // GET_DESCRIPTOR, standard, device
        const unsigned type = value >> 8;
        std::vector<std::uint8_t> all = descriptors();
        std::vector<std::uint8_t> wanted;
        if (type == 1)
            wanted.assign(all.begin(), all.begin() + 18);
        else if (type == 2 && (value & 0xff) == 0)
            wanted.assign(all.begin() + 18, all.end());
        else if (type == 3)
            return stringDescriptor(value & 0xff, data, length);
        else
            return -EPIPE;
        const std::size_t count = std::min(length, wanted.size());
        std::copy_n(wanted.begin(), count, data);
        return static_cast<int>(count);
    }
    // GET_DEVICE_ID of the printer class: the interface in wIndex's high byte, the alternate
    // setting in its low byte; the ID after its length, two bytes big-endian that count
    // themselves.
    if (requestType == 0xa1 && request == 0 && value == 0 &&
        index == unsigned(m_identity.interfaceNumber) << 8 && !m_identity.deviceId.empty()) {
        const std::size_t total = std::min<std::size_t>(m_identity.deviceId.size() + 2, 0xffff);
        std::vector<std::uint8_t> answer = {static_cast<std::uint8_t>(total >> 8),
                                            static_cast<std::uint8_t>(total & 0xff)};
        answer.insert(answer.end(), m_identity.deviceId.begin(),
                      m_identity.deviceId.begin() + static_cast<std::ptrdiff_t>(total - 2));
        const std::size_t count = std::min(length, answer.size());
        std::copy_n(answer.begin(), count, data);
        return static_cast<int>(count);
    }
    return -EPIPE; // stalled, as a device does a request it does not know
}

int UsbPrinter::bulkOut(std::uint8_t endpoint, const std::uint8_t *data, std::size_t length)
{
    const std::lock_guard lock(m_mutex);
    record("bulk-out " + hex(data, length, " "));
    if (endpoint != EndpointOut)
        return -EPIPE;
    if (m_printer.fault() == Fault::Close)
        return -ESHUTDOWN; // gone, as a printer unplugged
    for (std::size_t i = 0; i < length; ++i) {
        m_printer.record(data[i]);
        if (const int n = m_reader.feed(data[i]); n != 0) {
            if (const std::optional<std::uint8_t> answer = m_printer.answerTo(n))
                m_unread.push_back({*answer});
        }
    }
    return static_cast<int>(length);
}

int UsbPrinter::bulkIn(std::uint8_t endpoint, std::uint8_t *data, std::size_t length)
{
    const std::lock_guard lock(m_mutex);
    if (endpoint != EndpointIn || m_identity.protocol != 2)
        return -EPIPE;
    if (m_printer.fault() == Fault::Close)
        return -ESHUTDOWN;
    if (m_printer.fault() == Fault::Trickle && m_unread.empty() &&
        Clock::now() - m_lastTrickle >= TricklePeriod) {
        m_unread.push_back({TrickleByte});
        m_lastTrickle = Clock::now();
    }
    if (m_unread.empty())
        return 0;
    std::vector<std::uint8_t> &packet = m_unread.front();
    const std::size_t count = std::min(length, packet.size());
    std::copy_n(packet.begin(), count, data);
    packet.erase(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(count));
    if (packet.empty())
        m_unread.pop_front();
    return static_cast<int>(count);
}

void UsbPrinter::vanished(const void *client)
{
    const std::lock_guard lock(m_mutex);
    record("close");
    // The kernel lets go of what a closed descriptor held.
    if (m_holder == client) {
        m_holder = nullptr;
        m_releasedAt = Clock::now();
    }
}

std::vector<std::uint8_t> UsbPrinter::descriptors() const
{
    const UsbIdentity &id = m_identity;
    std::vector<std::uint8_t> bytes = {18, 1, 0x00, 0x02, 0, 0, 0, MaxPacket};
    put16(bytes, id.vendorId);
    put16(bytes, id.productId);
    put16(bytes, 0x0100);
    bytes.push_back(id.manufacturer.empty() ? 0 : ManufacturerString);
    bytes.push_back(id.product.empty() ? 0 : ProductString);
    bytes.push_back(id.serial.empty() ? 0 : SerialString);
    bytes.push_back(1);

    const std::uint8_t interfaces = static_cast<std::uint8_t>(id.interfaceNumber + 1);
    const std::size_t configStart = bytes.size();
    bytes.insert(bytes.end(), {9, 2, 0, 0, interfaces, 1, 0, 0xc0, 50});
    for (std::uint8_t number = 0; number < id.interfaceNumber; ++number)
        bytes.insert(bytes.end(), {9, 4, number, 0, 0, 0xff, 0, 0, 0});
    const bool bidirectional = id.protocol == 2;
    bytes.insert(bytes.end(), {9, 4, id.interfaceNumber, 0, std::uint8_t(bidirectional ? 2 : 1),
                               PrinterClass, PrinterSubclass, id.protocol, 0});
    bytes.insert(bytes.end(), {7, 5, EndpointOut, 2, MaxPacket, 0, 0});
    if (bidirectional)
        bytes.insert(bytes.end(), {7, 5, EndpointIn, 2, MaxPacket, 0, 0});
    const std::size_t total = bytes.size() - configStart;
    bytes[configStart + 2] = static_cast<std::uint8_t>(total & 0xff);
    bytes[configStart + 3] = static_cast<std::uint8_t>(total >> 8);
    return bytes;
}

UsbBus::UsbBus() = default;

UsbBus::~UsbBus()
{
    // The testbed goes first: it stops the thread that calls the handlers.
    if (m_testbed != nullptr)
        g_object_unref(m_testbed);
    for (Device &device : m_devices)
        g_object_unref(device.handler);
}

bool UsbBus::start()
{
    m_testbed = umockdev_testbed_new();
    // The preload library shows the testbed's /sys in place of the system's, once there is one.
    if (!umockdev_in_mock_environment()) {
        m_error = "this process does not run with umockdev's preload library (run it under "
                  "umockdev-wrapper, or with LD_PRELOAD=libumockdev-preload.so.0)";
        return false;
    }
    gchar *root = umockdev_testbed_get_root_dir(m_testbed);
    m_root = root;
    g_free(root);
    // libusb looks for the folder of the device nodes when it starts, before any printer is
    // plugged in.
    const std::string folder = m_root + "/dev/bus/usb";
    if (g_mkdir_with_parents(folder.c_str(), 0755) != 0) {
        m_error = "cannot make " + folder + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

UsbPrinter *UsbBus::plug(const UsbIdentity &identity)
{
    if (m_testbed == nullptr) {
        m_error = "the bus has not started";
        return nullptr;
    }
    constexpr int Bus = 1;
    const int address = static_cast<int>(m_devices.size()) + 2;
    auto printer = std::make_unique<UsbPrinter>(identity, Bus, address);
    const std::string descriptors = upperHex(printer->descriptors());
    const int port = address - 1;
    char head[512];
    std::snprintf(head, sizeof head,
                  "P: /devices/pci0000:00/0000:00:14.0/usb%d/%d-%d\n"
                  "N: bus/usb/%03d/%03d=%s\n"
                  "E: DEVNAME=/dev/bus/usb/%03d/%03d\n"
                  "E: DEVTYPE=usb_device\nE: DRIVER=usb\nE: SUBSYSTEM=usb\n"
                  "E: BUSNUM=%03d\nE: DEVNUM=%03d\nE: MAJOR=189\nE: MINOR=%d\n"
                  "E: PRODUCT=%x/%x/100\n"
                  "A: busnum=%d\nA: devnum=%d\nA: devpath=%d\nA: dev=189:%d\nA: speed=12\n"
                  "A: bConfigurationValue=1\nA: bNumConfigurations=1\n"
                  "A: idVendor=%04x\nA: idProduct=%04x\n",
                  Bus, Bus, port, Bus, address, descriptors.c_str(), Bus, address, Bus, address,
                  address, identity.vendorId, identity.productId, Bus, address, port, address,
                  identity.vendorId, identity.productId);
    std::string record = head;
    // The strings the kernel reads into sysfs, which the udev rule matches.
    if (!identity.manufacturer.empty())
        record += "A: manufacturer=" + identity.manufacturer + "\n";
    if (!identity.product.empty())
        record += "A: product=" + identity.product + "\n";
    if (!identity.serial.empty())
        record += "A: serial=" + identity.serial + "\n";
    record += "H: descriptors=" + descriptors + "\n";

    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(m_testbed, record.c_str(), &error)) {
        m_error = std::string("cannot add the printer: ") + error->message;
        g_error_free(error);
        return nullptr;
    }
    UsbfsPrinter calls = UsbfsCalls;
    calls.printer = printer.get();
    UMockdevIoctlBase *handler = usbfs_handler_new(&calls);
    if (!umockdev_testbed_attach_ioctl(m_testbed, printer->deviceNode().c_str(), handler, &error)) {
        m_error = std::string("cannot emulate its device node: ") + error->message;
        g_error_free(error);
        g_object_unref(handler);
        return nullptr;
    }
    m_devices.push_back({std::move(printer), handler});
    return m_devices.back().printer.get();
}

bool UsbBus::setAccessible(const UsbPrinter &printer, bool accessible)
{
    const std::string node = m_root + printer.deviceNode();
    return ::chmod(node.c_str(), accessible ? 0666 : 0) == 0;
}

struct WithoutOverridingFileModes::Saved
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
};

WithoutOverridingFileModes::WithoutOverridingFileModes()
    : m_saved(std::make_unique<Saved>())
{
    syscall(SYS_capget, &m_saved->header, m_saved->data);
    __user_cap_data_struct lowered[2] = {m_saved->data[0], m_saved->data[1]};
    lowered[0].effective &= ~(CAP_TO_MASK(CAP_DAC_OVERRIDE) | CAP_TO_MASK(CAP_DAC_READ_SEARCH));
    syscall(SYS_capset, &m_saved->header, lowered);
}

WithoutOverridingFileModes::~WithoutOverridingFileModes()
{
    syscall(SYS_capset, &m_saved->header, m_saved->data);
}

} // namespace ravelin::printersim
