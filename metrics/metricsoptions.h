// SPDX-License-Identifier: MIT
#pragma once

// The monitor's two metrics options, read and checked before anything starts:
//   --metrics-listen ADDRESS[:PORT]   serve /metrics over HTTP (off by default)
//   --metrics-textfile DIR            write DIR/ravelin.prom after every reading round

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ravelin::metrics {

// The port /metrics is served on when --metrics-listen names none. Prometheus's list of exporter
// ports has filled 9100-9999 and goes on above 10000 (node_exporter's 9100 is also the raw
// printing port this program's printers listen on); 29147 lies past those, below the kernel's
// range of ephemeral ports (32768-60999, so no outgoing connection holds it), and is no service
// of Debian's /etc/services.
inline constexpr std::uint16_t DefaultPort = 29147;

struct ListenAddress
{
    std::string address;              // numeric IPv4, as given
    std::uint16_t port = DefaultPort; // 0: any free port
    std::string text() const { return address + ':' + std::to_string(port); }
};

// ADDRESS[:PORT]: ADDRESS a numeric IPv4 address (127.0.0.1, 0.0.0.0 for every interface),
// PORT 0 to 65535 in decimal. Empty, with why in error, when text is not one.
std::optional<ListenAddress> parseListenAddress(std::string_view text, std::string &error);

// Whether dir is an existing folder this process may create files in; why not in error.
bool checkTextfileDirectory(const std::string &dir, std::string &error);

// The options' lines for --help.
inline constexpr std::string_view OptionsHelp =
    "  --metrics-listen ADDRESS[:PORT]  serve Prometheus metrics at http://ADDRESS:PORT/metrics\n"
    "                                   (ADDRESS: IPv4, e.g. 127.0.0.1; PORT: 29147 by default)\n"
    "  --metrics-textfile DIR           write the same metrics to DIR/ravelin.prom after every\n"
    "                                   reading round, for node_exporter's textfile collector\n";

} // namespace ravelin::metrics
