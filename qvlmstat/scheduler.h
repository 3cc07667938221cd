// SPDX-License-Identifier: MIT
#pragma once

// Asking the CUPS scheduler about one queue, or about its default destination, under a
// deadline. The IPP request is posted with libcurl, whose total time-out covers every step
// (connecting, TLS, sending, a trickled or endless answer) and ends the transfer at the
// deadline whatever the scheduler does; libcups's own connection looks at its time-out only
// after a silence, and gives a TLS handshake ten seconds whatever it is told. The IPP messages
// are libcups's, the answer read within limits (scheduleranswer.h).

#include "boundedio.h"
#include "scheduleranswer.h"

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
    // Where it is, for a person: the socket's path, or host:port.
    std::string where() const;
};

// One exchange with the scheduler: the request posted, the answer read within limits.
struct SchedulerAnswer
{
    // Done when an IPP message came back, whatever its status code; TimedOut when the scheduler
    // gave no complete answer before the deadline.
    Outcome outcome = Outcome::Failed;
    Message response;
    std::string why; // what went wrong, when nothing came back
};

// Encryption is as libcups is configured (client.conf's Encryption, CUPS_ENCRYPTION): TLS from
// the first byte when it is required (the scheduler's certificate is not checked, as libcups
// does not check it), and again with TLS when the scheduler asks for it (426 Upgrade
// Required). Never a login: a scheduler that asks for one (401) gets no answer, and no one is
// prompted for a password.
SchedulerAnswer exchangeWithScheduler(const SchedulerAddress &scheduler, ipp_t *request,
                                      const Deadline &deadline, Resolver resolver,
                                      const AnswerLimits &limits);

struct QueueReport
{
    // Done when the scheduler answered, whatever it said.
    Outcome outcome = Outcome::Failed;
    // The scheduler knows the queue (or has a default) and sent a usable state.
    bool found = false;
    int state = 0;
    std::vector<std::string> reasons;
    std::string name; // the scheduler's spelling
    std::string makeAndModel;
    std::string deviceUri;
    // Why there is no usable state, for a person ("the scheduler at /run/cups/cups.sock did not
    // answer within 800 ms"); empty when there is one.
    std::string why;

    // Takes what the scheduler's answer says about the queue.
    void fill(QueueAnswer answer, const SchedulerAddress &scheduler);
};

// The printer-state, printer-state-reasons, printer-name, printer-make-and-model and device-uri
// of queue, or of the scheduler's default destination when queue is empty.
QueueReport askScheduler(const SchedulerAddress &scheduler, const std::string &queue,
                         const Deadline &deadline, Resolver resolver);

// The same of every queue the scheduler has, in one request (CUPS-Get-Printers). A queue whose
// attributes are not usable is listed, when it has a name, as not found, with why.
struct QueueList
{
    Outcome outcome = Outcome::Failed;
    std::vector<QueueReport> queues;
    std::string why; // empty when the scheduler answered with a list
};
QueueList listQueues(const SchedulerAddress &scheduler, const Deadline &deadline,
                     Resolver resolver);

} // namespace ravelin::qvlmstat
