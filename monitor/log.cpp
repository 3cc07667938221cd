// SPDX-License-Identifier: MIT
#include "log.h"

#include "monitorprotocol.h"

#include <cstdio>
#include <system_error>

namespace ravelin::monitor {

Log::Log()
    : m_sink([](const std::string &line) {
        const std::string text = "ravelin-monitor: " + line + "\n";
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    })
{}

void Log::line(const std::string &text)
{
    const std::string printable = qvlmstat::protocol::printable(text);
    const std::lock_guard lock(m_mutex);
    m_sink(printable);
}

std::string systemError(int error)
{
    std::string text = std::error_code(error, std::generic_category()).message();
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

} // namespace ravelin::monitor
