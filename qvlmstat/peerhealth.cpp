// SPDX-License-Identifier: MIT
#include "peerhealth.h"

namespace ravelin::qvlmstat {

bool PeerHealth::mayAsk(const std::string &peer)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_nextTry.find(peer);
    if (found == m_nextTry.end())
        return true;
    const auto now = m_now();
    if (now < found->second)
        return false;
    found->second = now + RetryInterval; // the others wait while this call retries
    return true;
}

void PeerHealth::answered(const std::string &peer)
{
    const std::lock_guard lock(m_mutex);
    m_nextTry.erase(peer);
}

void PeerHealth::unresponsive(const std::string &peer)
{
    const std::lock_guard lock(m_mutex);
    // (The table holds at most the scheduler and the queues' printers.)
    m_nextTry[peer] = m_now() + RetryInterval;
}

} // namespace ravelin::qvlmstat
