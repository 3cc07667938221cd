// SPDX-License-Identifier: MIT
#pragma once

// Which peers (the scheduler, a printer) were found unresponsive, so that calls do not wait on
// them again and again. Once a peer has timed out, calls in the next RetryInterval are told not
// to ask it; after that one call, and only one in each interval, asks it again; an answer
// forgets it. Nothing else is kept. Calls may come from any thread.

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace ravelin::qvlmstat {

class PeerHealth
{
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::seconds RetryInterval{5};

    explicit PeerHealth(Clock now)
        : m_now(std::move(now))
    {}

    // Whether this call may ask the peer. For a peer found unresponsive, true makes this call the
    // interval's one retry; false sets why, when given, to what was said when it timed out.
    bool mayAsk(const std::string &peer, std::string *why = nullptr);
    // The peer answered, rightly or wrongly: it is not unresponsive.
    void answered(const std::string &peer);
    // The peer timed out; why says how, for the calls that are not let ask it.
    void unresponsive(const std::string &peer, std::string why = {});

private:
    Clock m_now;
    std::mutex m_mutex;
    struct Silence
    {
        std::chrono::steady_clock::time_point nextTry;
        std::string why;
    };
    // The unresponsive peers, when each may next be asked, and why.
    std::map<std::string, Silence> m_silent;
};

} // namespace ravelin::qvlmstat
