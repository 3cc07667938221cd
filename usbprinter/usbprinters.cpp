// SPDX-License-Identifier: MIT
#include "usbprinters.h"

#include "usburi.h"

#include <libusb.h>

#include <array>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace ravelin::usbprinter {

namespace {

using qvlmstat::Deadline;
using qvlmstat::SteadyClock;
using std::chrono::milliseconds;

constexpr std::uint8_t PrinterClass = 7;
constexpr std::uint8_t PrinterSubclass = 1;
constexpr std::uint8_t Unidirectional = 1;
constexpr std::uint8_t Bidirectional = 2;
constexpr std::uint8_t DLE = 0x10;
constexpr std::uint8_t EOT = 0x04;
// More than any printer leaves waiting: a printer that keeps sending is asked all the same, and
// its answers then read as what they are.
constexpr int DrainReads = 16;
// The printer class's GET_DEVICE_ID: a class request to the interface.
constexpr std::uint8_t GetDeviceIdType = 0xa1; // IN, class, interface
constexpr std::uint8_t GetDeviceId = 0;
constexpr std::array<const char *, 4> Ordinals = {"first", "second", "third", "fourth"};

const char *const AccessHint =
    "install the udev rule 60-ravelin-usb-printers.rules, which lets the group lp open the "
    "series' USB printers, or give the monitor's user read and write access to the device";

// Whole milliseconds to end, rounded up, for libusb's time-outs; 0 once it has passed (which
// libusb would read as "no time-out", so callers stop first).
unsigned millisecondsUntil(SteadyClock::time_point end)
{
    const auto left = std::chrono::ceil<milliseconds>(end - SteadyClock::now()).count();
    return left > 0 ? static_cast<unsigned>(left) : 0;
}

std::string deviceNode(libusb_device *device)
{
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u",
                  unsigned{libusb_get_bus_number(device)},
                  unsigned{libusb_get_device_address(device)});
    return node;
}

std::string libusbError(int error)
{
    return libusb_strerror(error);
}

// One printer interface of a device: the setting that speaks a printer protocol (bidirectional
// when there is one) and its bulk endpoints.
struct PrinterInterface
{
    int configIndex = 0; // of the active configuration, for GET_DEVICE_ID
    std::uint8_t number = 0;
    std::uint8_t alternate = 0;
    bool severalAlternates = false;
    std::uint8_t protocol = 0;
    std::uint8_t out = 0;
    std::uint8_t in = 0;
    std::uint16_t inPacket = 64;
};

std::vector<PrinterInterface> printerInterfaces(libusb_device *device)
{
    std::vector<PrinterInterface> found;
    libusb_device_descriptor descriptor{};
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_device_descriptor(device, &descriptor) != 0 ||
        libusb_get_active_config_descriptor(device, &config) != 0) {
        return found; // unconfigured, or gone
    }
    int configIndex = 0;
    for (std::uint8_t i = 0; i < descriptor.bNumConfigurations; ++i) {
        libusb_config_descriptor *other = nullptr;
        if (libusb_get_config_descriptor(device, i, &other) != 0)
            continue;
        if (other->bConfigurationValue == config->bConfigurationValue)
            configIndex = i;
        libusb_free_config_descriptor(other);
    }
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface &interface = config->interface[i];
        const libusb_interface_descriptor *chosen = nullptr;
        for (int a = 0; a < interface.num_altsetting; ++a) {
            const libusb_interface_descriptor &setting = interface.altsetting[a];
            if (setting.bInterfaceClass != PrinterClass ||
                setting.bInterfaceSubClass != PrinterSubclass ||
                (setting.bInterfaceProtocol != Unidirectional &&
                 setting.bInterfaceProtocol != Bidirectional)) {
                continue;
            }
            if (chosen == nullptr || (chosen->bInterfaceProtocol != Bidirectional &&
                                      setting.bInterfaceProtocol == Bidirectional)) {
                chosen = &setting;
            }
        }
        if (chosen == nullptr)
            continue;
        PrinterInterface printer{.configIndex = configIndex,
                                 .number = chosen->bInterfaceNumber,
                                 .alternate = chosen->bAlternateSetting,
                                 .severalAlternates = interface.num_altsetting > 1,
                                 .protocol = chosen->bInterfaceProtocol};
        for (int e = 0; e < chosen->bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor &endpoint = chosen->endpoint[e];
            if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                continue;
            if ((endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) {
                if (printer.in == 0) {
                    printer.in = endpoint.bEndpointAddress;
                    printer.inPacket = endpoint.wMaxPacketSize & 0x7ff;
                }
            } else if (printer.out == 0) {
                printer.out = endpoint.bEndpointAddress;
            }
        }
        if (printer.inPacket == 0)
            printer.inPacket = 64;
        if (printer.out != 0)
            found.push_back(printer);
    }
    libusb_free_config_descriptor(config);
    return found;
}

// Where a device sits and what it is: the same key names the same plugged-in device (a device
// plugged in again gets a new address).
struct DeviceKey
{
    std::uint8_t bus = 0;
    std::array<std::uint8_t, 8> ports{};
    std::uint8_t address = 0;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint8_t interface = 0;

    auto operator<=>(const DeviceKey &) const = default;
};

DeviceKey keyOf(libusb_device *device, std::uint8_t interface)
{
    DeviceKey key{.bus = libusb_get_bus_number(device),
                  .address = libusb_get_device_address(device),
                  .interface = interface};
    libusb_get_port_numbers(device, key.ports.data(), static_cast<int>(key.ports.size()));
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) == 0) {
        key.vendor = descriptor.idVendor;
        key.product = descriptor.idProduct;
    }
    return key;
}

// An open device, closed when the scope ends.
struct CloseDevice
{
    void operator()(libusb_device_handle *handle) const { libusb_close(handle); }
};
using Handle = std::unique_ptr<libusb_device_handle, CloseDevice>;

// A control transfer into buffer within the deadline; the bytes it got, or a libusb error.
int controlIn(libusb_device_handle *handle, std::uint8_t requestType, std::uint8_t request,
              std::uint16_t value, std::uint16_t index, std::span<std::uint8_t> buffer,
              const Deadline &deadline)
{
    const unsigned timeout = millisecondsUntil(deadline.end());
    if (timeout == 0)
        return LIBUSB_ERROR_TIMEOUT;
    return libusb_control_transfer(handle, requestType, request, value, index, buffer.data(),
                                   static_cast<std::uint16_t>(buffer.size()), timeout);
}

// A string descriptor in the device's first language, each character that is not one byte
// written '?' (as libusb's own reader of strings does); empty when it has none.
std::string stringDescriptor(libusb_device_handle *handle, std::uint8_t index,
                             std::uint16_t language, const Deadline &deadline)
{
    if (index == 0)
        return {};
    std::array<std::uint8_t, 255> buffer{};
    const int got = controlIn(handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                              static_cast<std::uint16_t>(LIBUSB_DT_STRING << 8 | index), language,
                              buffer, deadline);
    if (got < 2 || buffer[1] != LIBUSB_DT_STRING)
        return {};
    const int length = std::min<int>(got, buffer[0]);
    std::string text;
    for (int i = 2; i + 1 < length; i += 2)
        text += buffer[static_cast<std::size_t>(i) + 1] != 0
                    ? '?'
                    : static_cast<char>(buffer[static_cast<std::size_t>(i)]);
    return text;
}

// Who the printer on this interface is, as the print system names it.
std::optional<UsbUri> identify(libusb_device *device, libusb_device_handle *handle,
                               const PrinterInterface &printer, const Deadline &deadline)
{
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0)
        return std::nullopt;
    UsbStrings strings;
    std::array<std::uint8_t, 4> languages{};
    const int got = controlIn(handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                              LIBUSB_DT_STRING << 8, 0, languages, deadline);
    if (got >= 4) {
        const auto language = static_cast<std::uint16_t>(languages[2] | languages[3] << 8);
        strings.manufacturer =
            stringDescriptor(handle, descriptor.iManufacturer, language, deadline);
        strings.product = stringDescriptor(handle, descriptor.iProduct, language, deadline);
        strings.serial = stringDescriptor(handle, descriptor.iSerialNumber, language, deadline);
    }
    // The kernel lets GET_DEVICE_ID through without the interface being claimed, so that the
    // printer's name is read while another program holds it.
    std::array<std::uint8_t, 1024> answer{};
    const int length = controlIn(
        handle, GetDeviceIdType, GetDeviceId, static_cast<std::uint16_t>(printer.configIndex),
        static_cast<std::uint16_t>(printer.number << 8 | printer.alternate), answer, deadline);
    if (length == LIBUSB_ERROR_TIMEOUT || length == LIBUSB_ERROR_NO_DEVICE)
        return std::nullopt; // known next time, or never
    const std::string deviceId =
        length > 0 ? deviceIdText(std::span(answer.data(), static_cast<std::size_t>(length)))
                   : std::string();
    return printerUri(deviceId, strings, printer.number);
}

extern "C" void LIBUSB_CALL transferEnded(libusb_transfer *transfer)
{
    *static_cast<int *>(transfer->user_data) = 1;
}

// A bulk IN transfer that is submitted before what it waits for, so that it catches a packet
// whenever it comes; cancelled, and waited for, if still going when it is dropped.
class InTransfer
{
public:
    InTransfer(libusb_context *context, libusb_device_handle *handle, std::uint8_t endpoint,
               std::size_t size)
        : m_context(context)
        , m_transfer(libusb_alloc_transfer(0))
        , m_buffer(size)
    {
        if (m_transfer != nullptr) {
            libusb_fill_bulk_transfer(m_transfer, handle, endpoint, m_buffer.data(),
                                      static_cast<int>(m_buffer.size()), transferEnded, &m_ended,
                                      0);
        }
    }
    ~InTransfer()
    {
        if (pending())
            libusb_cancel_transfer(m_transfer);
        // Cancelled, it ends at once; libusb must be done with it before it is freed.
        while (pending())
            libusb_handle_events_completed(m_context, &m_ended);
        libusb_free_transfer(m_transfer);
    }
    InTransfer(const InTransfer &) = delete;
    InTransfer &operator=(const InTransfer &) = delete;

    bool pending() const { return m_submitted && m_ended == 0; }
    // 0, or a libusb error.
    int submit()
    {
        if (m_transfer == nullptr)
            return LIBUSB_ERROR_NO_MEM;
        m_ended = 0;
        const int error = libusb_submit_transfer(m_transfer);
        m_submitted = error == 0;
        return error;
    }
    // Whether it has ended, waiting for it until then.
    bool waitUntil(SteadyClock::time_point until)
    {
        while (pending()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(until - SteadyClock::now());
            if (left.count() <= 0)
                break;
            timeval wait{left.count() / 1000000, static_cast<suseconds_t>(left.count() % 1000000)};
            libusb_handle_events_timeout_completed(m_context, &wait, &m_ended);
        }
        return !pending();
    }
    // What it got, once ended: the bytes, and 0 or a libusb error.
    std::span<const std::uint8_t> bytes() const
    {
        return {m_buffer.data(), static_cast<std::size_t>(m_transfer->actual_length)};
    }
    int error() const
    {
        switch (m_transfer->status) {
        case LIBUSB_TRANSFER_COMPLETED:
        case LIBUSB_TRANSFER_OVERFLOW: // more than a packet: what came is what it is
            return 0;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return LIBUSB_ERROR_NO_DEVICE;
        case LIBUSB_TRANSFER_STALL:
            return LIBUSB_ERROR_PIPE;
        case LIBUSB_TRANSFER_TIMED_OUT:
        case LIBUSB_TRANSFER_CANCELLED:
            return LIBUSB_ERROR_TIMEOUT;
        case LIBUSB_TRANSFER_ERROR:
            break;
        }
        return LIBUSB_ERROR_IO;
    }

private:
    libusb_context *m_context;
    libusb_transfer *m_transfer;
    std::vector<std::uint8_t> m_buffer;
    int m_ended = 0;
    bool m_submitted = false;
};

// One reading's exchange on a claimed interface, and how it went.
struct Exchange
{
    SteadyClock::time_point started; // of the reading
    std::string device;
    qvlmstat::DeviceAnswers answers{};
    std::string failure;   // after the device's node, why the four requests were not all answered
    bool timedOut = false; // for lack of time
    std::string invalid;   // the first answer that was no status, when one was not

    std::string waited() const
    {
        return std::to_string(
            std::chrono::duration_cast<milliseconds>(SteadyClock::now() - started).count());
    }
};

// Throws away what waits on the bulk IN endpoint, then makes the four requests one at a time,
// each answer read before the next request, until end.
void askFour(libusb_context *context, libusb_device_handle *handle, const PrinterInterface &printer,
             SteadyClock::time_point holdEnd, Exchange &exchange)
{
    InTransfer in(context, handle, printer.in, printer.inPacket);
    // Bytes answered to an earlier request that nobody read would pass for this reading's
    // answers: what comes within DrainWindow of asking is thrown away, packet by packet. A
    // transfer that gets nothing stays submitted, and takes the first answer.
    for (int i = 0; exchange.failure.empty() && i < DrainReads; ++i) {
        if (const int error = in.submit(); error != 0) {
            exchange.failure = ": " + libusbError(error);
            break;
        }
        if (!in.waitUntil(std::min(SteadyClock::now() + UsbPrinters::DrainWindow, holdEnd)))
            break;
        if (in.error() != 0 && in.error() != LIBUSB_ERROR_TIMEOUT)
            exchange.failure = ": " + libusbError(in.error());
    }

    for (std::uint8_t n = 1; exchange.failure.empty() && n <= 4; ++n) {
        const char *ordinal = Ordinals[n - 1u];
        // Submitted before the request, so that no answer can come before it.
        int error = in.pending() ? 0 : in.submit();
        std::array<std::uint8_t, 3> request = {DLE, EOT, n};
        const unsigned timeout = millisecondsUntil(holdEnd);
        int sent = 0;
        if (error == 0) {
            error = timeout == 0
                        ? LIBUSB_ERROR_TIMEOUT
                        : libusb_bulk_transfer(handle, printer.out, request.data(),
                                               static_cast<int>(request.size()), &sent, timeout);
            if (error == 0 && sent != static_cast<int>(request.size()))
                error = LIBUSB_ERROR_TIMEOUT;
            if (error == LIBUSB_ERROR_TIMEOUT) {
                exchange.failure = std::string(" did not take the ") + ordinal +
                                   " status request within " + exchange.waited() + " ms";
                exchange.timedOut = true;
                break;
            }
        }
        if (error != 0) {
            exchange.failure =
                std::string(": the ") + ordinal + " status request failed: " + libusbError(error);
            break;
        }
        // The answer is the last byte of what comes back; an empty packet is no answer.
        std::optional<std::uint8_t> answer;
        while (!answer && error == 0) {
            if (!in.waitUntil(holdEnd)) {
                error = LIBUSB_ERROR_TIMEOUT;
                break;
            }
            error = in.error();
            if (!in.bytes().empty())
                answer = in.bytes().back();
            else if (error == 0)
                error = in.submit();
        }
        if (!answer) {
            exchange.timedOut = error == LIBUSB_ERROR_TIMEOUT;
            exchange.failure = exchange.timedOut
                                   ? std::string(" did not answer the ") + ordinal +
                                         " status request within " + exchange.waited() + " ms"
                                   : std::string(": the answer to the ") + ordinal +
                                         " status request failed: " + libusbError(error);
            break;
        }
        if (qvlmstat::isValidAnswer(*answer)) {
            exchange.answers[n - 1u] = *answer;
        } else if (exchange.invalid.empty()) {
            char text[96];
            std::snprintf(text, sizeof text,
                          " answered the %s status request with 0x%02x, which is no status",
                          ordinal, *answer);
            exchange.invalid = exchange.device + text;
        }
    }
}

struct Found
{
    libusb_device *device = nullptr; // referenced
    Handle handle;                   // open when it was opened to find it
    PrinterInterface printer;
    UsbReading failure; // when no device was found
};

} // namespace

struct UsbPrinters::Private
{
    std::mutex mutex; // the context's start, the names known, and finding
    libusb_context *context = nullptr;
    std::string contextError;
    std::map<DeviceKey, UsbUri> names;

    ~Private()
    {
        if (context != nullptr)
            libusb_exit(context);
    }

    bool start();
    Found find(std::string_view uriText, const UsbUri &wanted, const Deadline &deadline);
    UsbReading exchange(Found &found, const Deadline &deadline, SteadyClock::time_point started);
};

bool UsbPrinters::Private::start()
{
    if (context != nullptr)
        return true;
    // Tried again at the next reading: USB may come later (no bus yet, a module loaded).
    const int error = libusb_init(&context);
    if (error != 0) {
        context = nullptr;
        contextError = "USB cannot be used: " + libusbError(error);
        return false;
    }
    return true;
}

Found UsbPrinters::Private::find(std::string_view uriText, const UsbUri &wanted,
                                 const Deadline &deadline)
{
    Found found;
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    if (count < 0) {
        found.failure.why =
            "the USB devices cannot be listed: " + libusbError(static_cast<int>(count));
        return found;
    }
    std::map<DeviceKey, UsbUri> present;
    std::string denied;
    bool unknown = false; // a printer whose name could not be read this time
    for (ssize_t i = 0; i < count && found.device == nullptr; ++i) {
        libusb_device *device = list[i];
        Handle handle;
        for (const PrinterInterface &printer : printerInterfaces(device)) {
            const DeviceKey key = keyOf(device, printer.number);
            auto known = names.find(key);
            std::optional<UsbUri> name;
            if (known != names.end()) {
                name = known->second;
            } else {
                if (!handle) {
                    libusb_device_handle *opened = nullptr;
                    const int error = libusb_open(device, &opened);
                    if (error == LIBUSB_ERROR_ACCESS && denied.empty())
                        denied = deviceNode(device);
                    if (error != 0) {
                        unknown = true;
                        break;
                    }
                    handle = Handle(opened);
                }
                name = identify(device, handle.get(), printer, deadline);
                if (!name) {
                    unknown = true;
                    continue;
                }
            }
            present.emplace(key, *name);
            if (sameDevice(wanted, *name)) {
                found.device = libusb_ref_device(device);
                found.handle = std::move(handle);
                found.printer = printer;
                break;
            }
        }
    }
    libusb_free_device_list(list, 1);
    // What is no longer plugged in is forgotten; what is, is kept for the next reading.
    if (found.device == nullptr) {
        names = std::move(present);
    } else {
        for (auto &[key, name] : present)
            names.insert_or_assign(key, std::move(name));
    }
    if (found.device != nullptr)
        return found;
    if (!denied.empty()) {
        found.failure.result = UsbResult::PermissionDenied;
        found.failure.device = denied;
        found.failure.why = denied + ": permission denied, so the printer " + std::string(uriText) +
                            " may be this one and cannot be read; " + AccessHint;
    } else if (unknown) {
        found.failure.why = "no connected USB printer is known to be " + std::string(uriText) +
                            " (one did not say who it is)";
    } else {
        found.failure.result = UsbResult::NotFound;
        found.failure.why = "no USB printer " + std::string(uriText) + " is connected";
    }
    return found;
}

UsbReading UsbPrinters::Private::exchange(Found &found, const Deadline &deadline,
                                          SteadyClock::time_point started)
{
    UsbReading reading;
    reading.device = deviceNode(found.device);
    const PrinterInterface &printer = found.printer;
    if (printer.in == 0) {
        reading.why = reading.device +
                      ": the printer's interface sends nothing back (unidirectional), so its "
                      "status cannot be read";
        return reading;
    }
    if (!found.handle) {
        libusb_device_handle *opened = nullptr;
        const int error = libusb_open(found.device, &opened);
        if (error == LIBUSB_ERROR_ACCESS) {
            reading.result = UsbResult::PermissionDenied;
            reading.why = reading.device + ": permission denied; " + AccessHint;
            return reading;
        }
        if (error != 0) {
            reading.why = reading.device + ": cannot be opened: " + libusbError(error);
            return reading;
        }
        found.handle = Handle(opened);
    }
    libusb_device_handle *handle = found.handle.get();
    libusb_context *const usb = context;

    const SteadyClock::time_point holdEnd = deadline.end() - ReleaseReserve;
    if (SteadyClock::now() >= holdEnd) {
        reading.result = UsbResult::TimedOut;
        reading.why = reading.device + ": no time was left to ask it";
        return reading;
    }

    // The kernel's printer driver is unbound for the exchange and bound again after it, as the
    // print system's backend does for a job.
    bool unbound = false;
    if (libusb_kernel_driver_active(handle, printer.number) == 1) {
        const int error = libusb_detach_kernel_driver(handle, printer.number);
        if (error != 0 && error != LIBUSB_ERROR_NOT_FOUND) {
            reading.why = reading.device +
                          ": the kernel's printer driver cannot be unbound: " + libusbError(error);
            return reading;
        }
        unbound = error == 0;
    }
    const auto rebind = [&] {
        if (unbound)
            libusb_attach_kernel_driver(handle, printer.number);
    };
    if (const int error = libusb_claim_interface(handle, printer.number); error != 0) {
        rebind();
        if (error == LIBUSB_ERROR_BUSY) {
            reading.result = UsbResult::Busy;
            reading.why = reading.device + ": in use by another program";
        } else {
            reading.why = reading.device +
                          ": the printer's interface cannot be claimed: " + libusbError(error);
        }
        return reading;
    }

    Exchange exchange;
    exchange.started = started;
    exchange.device = reading.device;
    if (printer.severalAlternates) {
        if (const int error =
                libusb_set_interface_alt_setting(handle, printer.number, printer.alternate);
            error != 0) {
            exchange.failure = ": the printer setting cannot be chosen: " + libusbError(error);
        }
    }
    if (exchange.failure.empty())
        askFour(usb, handle, printer, holdEnd, exchange);
    libusb_release_interface(handle, printer.number);
    rebind();
    found.handle.reset();

    reading.answers = exchange.answers;
    if (!exchange.failure.empty()) {
        reading.result = exchange.timedOut ? UsbResult::TimedOut : UsbResult::Failed;
        reading.why = reading.device + exchange.failure;
    } else {
        reading.result = UsbResult::Read;
        reading.why = exchange.invalid;
    }
    return reading;
}

qvlmstat::StatusWord deviceWord(const UsbReading &reading)
{
    if (reading.result == UsbResult::Busy)
        return 0;
    return qvlmstat::deviceBits(reading.answers);
}

UsbPrinters::UsbPrinters()
    : d(std::make_unique<Private>())
{}

UsbPrinters::~UsbPrinters() = default;

UsbReading UsbPrinters::ask(std::string_view deviceUri, const Deadline &deadline)
{
    const SteadyClock::time_point started = SteadyClock::now();
    const std::optional<UsbUri> wanted = parseUsbUri(deviceUri);
    if (!wanted) {
        UsbReading reading;
        reading.why = "not a usb: device URI that can be read: " + std::string(deviceUri);
        return reading;
    }
    Found found;
    {
        const std::lock_guard lock(d->mutex);
        if (!d->start()) {
            UsbReading reading;
            reading.why = d->contextError;
            return reading;
        }
        found = d->find(deviceUri, *wanted, deadline);
    }
    if (found.device == nullptr)
        return std::move(found.failure);
    UsbReading reading = d->exchange(found, deadline, started);
    libusb_unref_device(found.device);
    return reading;
}

} // namespace ravelin::usbprinter
