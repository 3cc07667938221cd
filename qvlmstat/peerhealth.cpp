// SPDX-License-Identifier: MIT
#include "peerhealth.h"

namespace ravelin::qvlmstat {

bool PeerHealth::mayAsk(const std::string &peer, std::string *why)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_silent.find(peer);
    if (found == m_silent.end())
        return true;
    const auto now = m_now();
    if (now < found->second.nextTry) {
        if (why)
            *why = found->second.why;
        return false;
    }
    found->second.nextTry = now + RetryInterval; // the others wait while this call retries
    return true;
}

void PeerHealth::answered(const std::string &peer)
{
    const std::lock_guard lock(m_mutex);
    m_silent.erase(peer);
}

void PeerHealth::unresponsive(const std::string &peer, std::string why)
{
    const std::lock_guard lock(m_mutex);
    // (The table holds at most the scheduler, the monitor and the queues' printers.)
    m_silent[peer] = {m_now() + RetryInterval, std::move(why)};
}

} // namespace ravelin::qvlmstat
