// SPDX-License-Identifier: MIT
#pragma once

// Asking the CUPS scheduler about one queue, or about its default destination, under a
// deadline. The IPP request goes over a connection of our own as an HTTP/1.1 POST framed here,
// and the response is read under the deadline and capped in size: libcups's own exchange looks
// at its time-out only after a silence, so a scheduler that trickles its answer or never stops
// sending would hold the call. The IPP messages themselves are libcups's.

#include "boundedio.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ravelin::qvlmstat {

// The scheduler libcups is configured to use (CUPS_SERVER, client.conf, the local socket).
struct SchedulerAddress
{
    std::string server; // a host, or the path of a Unix socket (starting with "/")
    std::uint16_t port = 631;

    static SchedulerAddress configured();
    bool isLocalSocket() const { return server.starts_with('/'); }
    // What tells this scheduler apart from others, for remembering that it is unresponsive.
    std::string key() const;
    // How a person would name it: "the scheduler at /run/cups/cups.sock".
    std::string description() const;
};

struct QueueReport
{
    // Done when the scheduler answered, whatever it said.
    Outcome outcome = Outcome::Failed;
    // The scheduler knows the queue (or has a default) and sent its attributes.
    bool found = false;
    int state = 0;
    std::vector<std::string> reasons;
    std::string name; // the scheduler's spelling
    std::string makeAndModel;
    std::string deviceUri;
    // Why there is no report (not Done, or not found), for a person; empty when there is one.
    std::string why;
};

// The printer-state, printer-state-reasons, printer-name, printer-make-and-model and device-uri
// of queue, or of the scheduler's default destination when queue is empty.
QueueReport askScheduler(const SchedulerAddress &scheduler, const std::string &queue,
                         const Deadline &deadline, Resolver resolver);

// The same of every queue the scheduler has, in one request (CUPS-Get-Printers).
struct QueueList
{
    Outcome outcome = Outcome::Failed;
    std::vector<QueueReport> queues; // each found, with its outcome Done
    std::string why;                 // empty when the scheduler answered with a list
};
QueueList listQueues(const SchedulerAddress &scheduler, const Deadline &deadline,
                     Resolver resolver);

} // namespace ravelin::qvlmstat
