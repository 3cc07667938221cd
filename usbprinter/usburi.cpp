// SPDX-License-Identifier: MIT
#include "usburi.h"

#include "asciitext.h"

#include <algorithm>
#include <array>

namespace ravelin::usbprinter {

namespace {

using qvlmstat::equalsIgnoringCase;
using qvlmstat::percentDecoded;
using qvlmstat::trimmed;
using qvlmstat::wholeNumber;

constexpr std::string_view Scheme = "usb://";
constexpr std::string_view SerialOption = "serial=";
constexpr std::string_view InterfaceOption = "interface=";
constexpr std::string_view InterfaceAfterSerial = "&interface=";
// What the print system escapes in a URI's host besides what it escapes everywhere.
constexpr std::string_view HostReserved = "\"#/:<>?@[\\]^`{|}";

// Whether the print system takes a host for an IPv6 address, which it writes in brackets as it
// is: it holds a ':', and before its first '%' (a zone) only hexadecimal digits and ':'.
bool looksLikeIpv6(std::string_view host)
{
    if (host.find(':') == std::string_view::npos)
        return false;
    const std::string_view address = host.substr(0, host.find('%'));
    return std::ranges::all_of(address, [](char c) {
        return c == ':' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
               (c >= 'A' && c <= 'F');
    });
}

void appendEncoded(std::string &uri, std::string_view text, std::string_view reserved)
{
    constexpr std::string_view Digits = "0123456789ABCDEF";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte >= 0x80 || c == '%' || reserved.find(c) != std::string_view::npos) {
            uri += '%';
            uri += Digits[byte >> 4];
            uri += Digits[byte & 0xf];
        } else {
            uri += c;
        }
    }
}

// Where the options begin: the first '?' that starts serial= or interface=. (The print system
// leaves '?' and '&' in a model or serial number as they are.)
std::size_t optionsStart(std::string_view resource)
{
    for (std::size_t at = resource.find('?'); at != std::string_view::npos;
         at = resource.find('?', at + 1)) {
        const std::string_view rest = resource.substr(at + 1);
        if (rest.starts_with(SerialOption) || rest.starts_with(InterfaceOption))
            return at;
    }
    return std::string_view::npos;
}

std::optional<unsigned> interfaceNumber(std::string_view text)
{
    const std::optional<std::size_t> number = wholeNumber(text);
    if (!number || *number > 255)
        return std::nullopt;
    return static_cast<unsigned>(*number);
}

} // namespace

std::optional<UsbUri> parseUsbUri(std::string_view uri)
{
    if (uri.size() < Scheme.size() || !equalsIgnoringCase(uri.substr(0, Scheme.size()), Scheme))
        return std::nullopt;
    const std::string_view rest = uri.substr(Scheme.size());
    // A host in brackets ends at its ']'.
    const std::size_t slash = rest.starts_with('[') ? rest.find("]/") + 1 : rest.find('/');
    if (slash == 0 || slash == std::string_view::npos)
        return std::nullopt;
    const std::string_view resource = rest.substr(slash + 1);
    const std::size_t question = optionsStart(resource);
    std::string_view host = rest.substr(0, slash);
    std::optional<std::string> make;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        // An address in brackets, not encoded (see usbUriText()).
        host = host.substr(1, host.size() - 2);
        const bool zone = host.starts_with("v1.");
        make.emplace(zone ? host.substr(3) : host);
        if (zone)
            std::ranges::replace(*make, '+', '%');
    } else {
        make = percentDecoded(host);
    }
    std::optional<std::string> model = percentDecoded(resource.substr(0, question));
    if (!make || !model)
        return std::nullopt;
    UsbUri parts{std::move(*make), std::move(*model), std::nullopt, std::nullopt};
    if (question == std::string_view::npos)
        return parts;
    std::string_view options = resource.substr(question + 1);
    // A serial number may hold '&': the interface is the last option.
    const std::size_t interfaceAt = options.rfind(InterfaceAfterSerial);
    if (options.starts_with(InterfaceOption) || interfaceAt != std::string_view::npos) {
        const std::size_t at = options.starts_with(InterfaceOption) ? 0 : interfaceAt + 1;
        parts.interface = interfaceNumber(options.substr(at + InterfaceOption.size()));
        if (!parts.interface)
            return std::nullopt;
        options = options.substr(0, at == 0 ? 0 : at - 1);
    }
    if (options.starts_with(SerialOption)) {
        parts.serial = percentDecoded(options.substr(SerialOption.size()));
        if (!parts.serial)
            return std::nullopt;
    }
    return parts;
}

std::string usbUriText(const UsbUri &uri)
{
    std::string text(Scheme);
    if (looksLikeIpv6(uri.make)) {
        // With a zone, in the form of RFC 6874's predecessor: [v1.ADDRESS+ZONE].
        const bool zone = uri.make.find('%') != std::string::npos;
        text += zone ? "[v1." : "[";
        for (const char c : uri.make)
            text += c == '%' ? '+' : c;
        text += ']';
    } else {
        appendEncoded(text, uri.make, HostReserved);
    }
    text += '/';
    appendEncoded(text, uri.model, {});
    char separator = '?';
    if (uri.serial) {
        text += separator;
        text += SerialOption;
        appendEncoded(text, *uri.serial, {});
        separator = '&';
    }
    if (uri.interface) {
        text += separator;
        text += InterfaceOption;
        text += std::to_string(*uri.interface);
    }
    return text;
}

bool sameDevice(const UsbUri &queue, const UsbUri &printer)
{
    if (queue.make != printer.make || queue.model != printer.model)
        return false;
    if (queue.serial && printer.serial && *queue.serial != *printer.serial)
        return false;
    if (queue.interface && printer.interface && *queue.interface != *printer.interface)
        return false;
    return true;
}

std::optional<std::string> deviceIdValue(std::string_view deviceId,
                                         std::initializer_list<std::string_view> keys)
{
    for (const std::string_view key : keys) {
        std::string_view rest = deviceId;
        while (!rest.empty()) {
            const std::size_t end = rest.find(';');
            const std::string_view pair = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            const std::size_t colon = pair.find(':');
            if (colon == std::string_view::npos)
                continue;
            if (!equalsIgnoringCase(trimmed(pair.substr(0, colon)), key))
                continue;
            const std::string_view value = trimmed(pair.substr(colon + 1));
            if (!value.empty())
                return std::string(value);
        }
    }
    return std::nullopt;
}

std::string deviceIdText(std::span<const std::uint8_t> answer)
{
    if (answer.size() < 2)
        return {};
    std::size_t length = std::size_t{answer[0]} << 8 | answer[1];
    if (length < 2 || length > answer.size())
        length = std::size_t{answer[1]} << 8 | answer[0];
    if (length < 2 || length > answer.size())
        length = answer.size();
    std::string text;
    for (std::size_t i = 2; i < length && answer[i] != 0; ++i)
        text += static_cast<char>(answer[i]);
    return text;
}

UsbUri printerUri(std::string_view deviceId, const UsbStrings &strings, unsigned interface)
{
    const auto either = [](std::optional<std::string> found, const std::string &fallback) {
        if (found)
            return std::move(*found);
        return fallback.empty() ? std::string("Unknown") : fallback;
    };
    UsbUri uri;
    uri.make = either(deviceIdValue(deviceId, {"mfg", "manufacturer"}), strings.manufacturer);
    uri.model = either(deviceIdValue(deviceId, {"mdl", "model"}), strings.product);
    if (!strings.serial.empty())
        uri.serial = strings.serial;
    else
        uri.serial = deviceIdValue(deviceId, {"serialnumber", "sern", "sn"});
    if (interface != 0)
        uri.interface = interface;
    return uri;
}

} // namespace ravelin::usbprinter
