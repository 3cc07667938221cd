// SPDX-License-Identifier: MIT
#include "printertable.h"

#include "asciitext.h"

#include <set>

namespace ravelin::monitor {

using qvlmstat::lowerCased;

std::string schemeOf(std::string_view deviceUri)
{
    const std::size_t colon = deviceUri.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return {};
    std::string scheme = lowerCased(deviceUri.substr(0, colon));
    for (const char c : scheme) {
        const bool allowed =
            (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!allowed)
            return {};
    }
    return scheme;
}

PrinterTable::Changes PrinterTable::setQueues(const std::vector<WatchedQueue> &queues)
{
    Changes changes;
    const std::lock_guard lock(m_mutex);
    std::set<std::string> listed;
    for (const WatchedQueue &queue : queues) {
        const std::string key = lowerCased(queue.name);
        listed.insert(key);
        auto [entry, added] = m_entries.try_emplace(key);
        PrinterState &state = entry->second.state;
        if (added)
            changes.added.push_back(queue.name);
        state.name = queue.name;
        state.deviceUri = queue.deviceUri;
        state.makeAndModel = queue.makeAndModel;
    }
    for (auto entry = m_entries.begin(); entry != m_entries.end();) {
        if (listed.contains(entry->first)) {
            ++entry;
        } else {
            changes.removed.push_back(entry->second.state.name);
            entry = m_entries.erase(entry);
        }
    }
    return changes;
}

std::optional<std::string> PrinterTable::record(std::string_view name, std::string_view deviceUri,
                                                std::uint64_t round,
                                                const qvlmstat::ReasonedWord &word,
                                                std::chrono::system_clock::time_point at,
                                                std::chrono::steady_clock::duration took)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(lowerCased(name));
    if (found == m_entries.end() || found->second.state.deviceUri != deviceUri ||
        round < found->second.round) {
        return std::nullopt;
    }
    found->second.round = round;
    PrinterState &state = found->second.state;
    const qvlmstat::StatusWord before = state.word;
    const std::string reasonBefore = state.reason;
    const bool first = !state.read;
    state.word = word.word;
    state.reason = word.reason;
    state.reachable = word.reachable;
    state.readAt = at;
    state.readingDuration = took;
    state.read = true;
    if (!first) {
        for (std::size_t bit = 0; bit < state.bitChangedAt.size(); ++bit) {
            const qvlmstat::StatusWord mask = qvlmstat::StatusWord{1} << bit;
            if ((before & mask) == (word.word & mask))
                continue;
            state.bitChangedAt[bit] = at;
            if (word.word & mask)
                ++state.rises[bit];
        }
    }
    if (state.reason == reasonBefore)
        return std::nullopt;
    if (!state.reason.empty())
        return state.reason;
    return first ? std::nullopt : std::optional<std::string>(state.name + ": answering again");
}

std::optional<PrinterState> PrinterTable::find(std::string_view name) const
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(lowerCased(name));
    if (found == m_entries.end())
        return std::nullopt;
    return found->second.state;
}

std::vector<PrinterState> PrinterTable::snapshot() const
{
    const std::lock_guard lock(m_mutex);
    std::vector<PrinterState> states;
    states.reserve(m_entries.size());
    for (const auto &[key, entry] : m_entries)
        states.push_back(entry.state);
    return states;
}

void PrinterTable::setDefaultDestination(std::optional<std::string> name)
{
    const std::lock_guard lock(m_mutex);
    m_default = std::move(name);
}

std::optional<std::string> PrinterTable::defaultDestination() const
{
    const std::lock_guard lock(m_mutex);
    return m_default;
}

} // namespace ravelin::monitor
