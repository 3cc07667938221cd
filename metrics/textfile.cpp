// SPDX-License-Identifier: MIT
#include "textfile.h"

#include "exposition.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace ravelin::metrics {

namespace {

// Writes all of text to fd; false with errno set when it cannot.
bool writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Writes text to a new temporary file in directory and renames it to path; the reason on
// failure, with nothing left behind.
std::string replace(const std::string &directory, const std::string &path, std::string_view text)
{
    std::string temporary = directory + "/.ravelin.prom.XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return "cannot create a file in " + directory + ": " + std::strerror(errno);
    // The messages name the folder, not the temporary file: a failure that goes on reads the same
    // each time, and is logged once.
    const auto failed = [&directory](const char *what) {
        return std::string("cannot ") + what + " a temporary file in " + directory + ": " +
               std::strerror(errno);
    };
    std::string failure;
    if (!writeAll(fd, text))
        failure = failed("write");
    else if (::fchmod(fd, 0644) != 0)
        failure = failed("set the mode of");
    else if (::fsync(fd) != 0)
        failure = failed("flush");
    if (::close(fd) != 0 && failure.empty())
        failure = failed("write");
    if (failure.empty() && ::rename(temporary.c_str(), path.c_str()) != 0)
        failure = "cannot replace " + path + ": " + std::strerror(errno);
    if (!failure.empty())
        ::unlink(temporary.c_str());
    return failure;
}

} // namespace

TextfileWriter::TextfileWriter(const std::string &directory, std::string version)
    : m_directory(directory.empty() ? std::string(".") : directory)
    , m_path(m_directory + "/ravelin.prom")
    , m_version(std::move(version))
{}

std::optional<std::string> TextfileWriter::write(const std::vector<PrinterSample> &printers)
{
    std::string failure = replace(m_directory, m_path, exposition(printers, m_version));
    if (failure == m_failure)
        return std::nullopt;
    const bool recovered = failure.empty();
    m_failure = std::move(failure);
    if (recovered)
        return "metrics: writing " + m_path + " again";
    return "metrics: " + m_failure;
}

} // namespace ravelin::metrics
