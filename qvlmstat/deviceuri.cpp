// SPDX-License-Identifier: MIT
#include "deviceuri.h"

#include "asciitext.h"

#include <array>
#include <optional>

namespace ravelin::qvlmstat {

namespace {

struct BaudRate
{
    unsigned rate;
    speed_t speed;
};

// The rates a serial line can be set to.
constexpr std::array<BaudRate, 30> BaudRates = {{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

// The absolute path of "/path", "///path" or "//localhost/path", decoded.
std::optional<std::string> localPath(std::string_view rest)
{
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        if (slash == std::string_view::npos)
            return std::nullopt;
        const std::string_view authority = rest.substr(0, slash);
        if (!authority.empty() && !equalsIgnoringCase(authority, "localhost"))
            return std::nullopt;
        rest.remove_prefix(slash);
    }
    if (!rest.starts_with('/'))
        return std::nullopt;
    return percentDecoded(rest);
}

DeviceUri networkDevice(std::string_view rest)
{
    if (!rest.starts_with("//"))
        return Unreadable{};
    rest.remove_prefix(2);
    std::string_view authority = rest.substr(0, rest.find_first_of("/?"));
    std::string_view host;
    if (authority.starts_with('[')) { // [IPv6 address]
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return Unreadable{};
        host = authority.substr(1, close - 1);
        authority.remove_prefix(close + 1);
        if (!authority.empty() && !authority.starts_with(':'))
            return Unreadable{};
    } else {
        host = authority.substr(0, authority.find(':'));
        authority.remove_prefix(host.size());
    }
    NetworkDevice device;
    if (authority.starts_with(':') && authority.size() > 1) {
        const std::optional<std::size_t> port = wholeNumber(authority.substr(1));
        if (!port || *port == 0 || *port > 65535)
            return Unreadable{};
        device.port = static_cast<std::uint16_t>(*port);
    }
    std::optional<std::string> decoded = percentDecoded(host);
    if (!decoded || decoded->empty() || decoded->find_first_of("@/ ") != std::string::npos)
        return Unreadable{};
    device.host = std::move(*decoded);
    return device;
}

template <typename T> struct Choice
{
    std::string_view name;
    T value;
};

constexpr std::array<Choice<Parity>, 3> Parities = {
    {{"none", Parity::None}, {"even", Parity::Even}, {"odd", Parity::Odd}}};
constexpr std::array<Choice<FlowControl>, 4> FlowControls = {{{"none", FlowControl::None},
                                                              {"soft", FlowControl::Soft},
                                                              {"hard", FlowControl::Hard},
                                                              {"dtrdsr", FlowControl::DtrDsr}}};

// Sets into the value that value names, in any case; false when it names none.
template <typename T, std::size_t N>
bool pick(std::string_view value, const std::array<Choice<T>, N> &choices, T &into)
{
    for (const Choice<T> &choice : choices) {
        if (equalsIgnoringCase(value, choice.name)) {
            into = choice.value;
            return true;
        }
    }
    return false;
}

// Sets one serial option; false for a value it cannot take. Unknown options are left to the
// scheduler's backend.
bool setSerialOption(SerialDevice &device, std::string_view name, std::string_view value)
{
    if (equalsIgnoringCase(name, "baud")) {
        const std::optional<std::size_t> rate = wholeNumber(value);
        for (const BaudRate &known : BaudRates) {
            if (rate && known.rate == *rate) {
                device.speed = known.speed;
                return true;
            }
        }
        return false;
    }
    if (equalsIgnoringCase(name, "bits")) {
        if (value != "7" && value != "8")
            return false;
        device.bits = value[0] - '0';
        return true;
    }
    if (equalsIgnoringCase(name, "parity"))
        return pick(value, Parities, device.parity);
    if (equalsIgnoringCase(name, "flow"))
        return pick(value, FlowControls, device.flow);
    return true;
}

DeviceUri serialDevice(std::string_view rest)
{
    const std::size_t question = rest.find('?');
    std::optional<std::string> path = localPath(rest.substr(0, question));
    if (!path)
        return Unreadable{};
    SerialDevice device;
    device.path = std::move(*path);
    std::string_view options =
        question == std::string_view::npos ? std::string_view() : rest.substr(question + 1);
    while (!options.empty()) {
        const std::size_t separator = options.find_first_of("+&");
        const std::string_view option = options.substr(0, separator);
        options = separator == std::string_view::npos ? std::string_view()
                                                      : options.substr(separator + 1);
        const std::size_t equals = option.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::optional<std::string> value = percentDecoded(option.substr(equals + 1));
        if (!value || !setSerialOption(device, option.substr(0, equals), *value))
            return Unreadable{};
    }
    return device;
}

} // namespace

DeviceUri parseDeviceUri(std::string_view uri)
{
    uri = uri.substr(0, uri.find('#'));
    const std::size_t colon = uri.find(':');
    if (colon == std::string_view::npos)
        return NotAsked{};
    const std::string_view scheme = uri.substr(0, colon);
    const std::string_view rest = uri.substr(colon + 1);
    if (equalsIgnoringCase(scheme, "socket"))
        return networkDevice(rest);
    if (equalsIgnoringCase(scheme, "serial"))
        return serialDevice(rest);
    if (equalsIgnoringCase(scheme, "file") || equalsIgnoringCase(scheme, "parallel")) {
        std::optional<std::string> path = localPath(rest.substr(0, rest.find('?')));
        if (!path)
            return Unreadable{};
        return DeviceFile{std::move(*path)};
    }
    return NotAsked{};
}

} // namespace ravelin::qvlmstat
