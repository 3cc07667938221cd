// SPDX-License-Identifier: MIT
#include "metricsoptions.h"

#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ravelin::metrics {

namespace {

bool allDigits(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace

std::optional<ListenAddress> parseListenAddress(std::string_view text, std::string &error)
{
    const std::string given(text);
    if (text.starts_with('[') || text.find(':') != text.rfind(':')) {
        error = "\"" + given +
                "\": IPv6 addresses are not supported (the HTTP server is built "
                "without them); give an IPv4 address such as 127.0.0.1";
        return std::nullopt;
    }
    ListenAddress listen;
    const std::size_t colon = text.find(':');
    const std::string_view address = text.substr(0, colon);
    if (colon != std::string_view::npos) {
        const std::string_view port = text.substr(colon + 1);
        if (!allDigits(port) || port.size() > 5 || std::stoul(std::string(port)) > 65535) {
            error = "\"" + given + "\": the port must be a number from 0 to 65535";
            return std::nullopt;
        }
        listen.port = static_cast<std::uint16_t>(std::stoul(std::string(port)));
    }
    in_addr parsed{};
    listen.address = address;
    if (inet_pton(AF_INET, listen.address.c_str(), &parsed) != 1) {
        error = "\"" + given +
                "\": the address must be a numeric IPv4 address such as "
                "127.0.0.1 (or 0.0.0.0 for every interface)";
        return std::nullopt;
    }
    return listen;
}

bool checkTextfileDirectory(const std::string &dir, std::string &error)
{
    struct stat status
    {
    };
    if (dir.empty()) {
        error = "the textfile folder is empty";
        return false;
    }
    if (::stat(dir.c_str(), &status) != 0) {
        error = dir + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        error = dir + ": not a folder";
        return false;
    }
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        error = dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace ravelin::metrics
