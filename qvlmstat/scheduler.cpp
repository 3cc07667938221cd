// SPDX-License-Identifier: MIT
#include "scheduler.h"

#include "httpresponse.h"

#include <cups/cups.h>

#include <array>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>

namespace ravelin::qvlmstat {

namespace {

// The scheduler's answer about one printer with five attributes is a few hundred bytes; this is
// far beyond any honest one.
constexpr std::size_t MaxResponseSize = 1024 * 1024;

struct MessageDeleter
{
    void operator()(ipp_t *message) const { ippDelete(message); }
};
using Message = std::unique_ptr<ipp_t, MessageDeleter>;

// The attributes that make the status word and say whether, and how, the printer itself is
// asked.
constexpr std::array<const char *, 5> RequestedAttributes = {
    "printer-state", "printer-state-reasons", "printer-name", "printer-make-and-model",
    "device-uri"};

// The request for those attributes: of queue (Get-Printer-Attributes), of the default
// destination (CUPS-Get-Default, queue empty), or of every queue (CUPS-Get-Printers).
Message newRequest(ipp_op_t operation, const std::string &queue = {})
{
    Message request{ippNewRequest(operation)};
    if (!request)
        return {};
    if (!queue.empty()) {
        char uri[HTTP_MAX_URI];
        if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost",
                             ippPort(), "/printers/%s", queue.c_str()) < HTTP_URI_STATUS_OK) {
            return {};
        }
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    }
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(RequestedAttributes.size()), nullptr,
                  RequestedAttributes.data());
    return request;
}

ssize_t appendTo(void *context, ipp_uchar_t *bytes, size_t size)
{
    static_cast<std::string *>(context)->append(reinterpret_cast<const char *>(bytes), size);
    return static_cast<ssize_t>(size);
}

ssize_t readFrom(void *context, ipp_uchar_t *bytes, size_t size)
{
    auto *source = static_cast<std::string_view *>(context);
    const size_t count = std::min(size, source->size());
    std::memcpy(bytes, source->data(), count);
    source->remove_prefix(count);
    return static_cast<ssize_t>(count);
}

// The whole HTTP request: a POST of the IPP message, with no "Expect: 100-continue" (a silent
// scheduler never sends the go-ahead) and no authentication (reading a printer's state needs
// none; a scheduler that asks for it gets Printer Error, not a password prompt).
std::string httpRequest(const SchedulerAddress &scheduler, const std::string &body)
{
    std::string host = "localhost";
    if (!scheduler.isLocalSocket()) {
        const bool ipv6 = scheduler.server.find(':') != std::string::npos;
        host = (ipv6 ? "[" + scheduler.server + "]" : scheduler.server) + ":" +
               std::to_string(scheduler.port);
    }
    return "POST / HTTP/1.1\r\nHost: " + host +
           "\r\nContent-Type: application/ipp\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

// The body of the scheduler's HTTP response, read under the deadline; outcome says why there is
// none.
struct Exchange
{
    Outcome outcome = Outcome::Failed;
    int status = 0;
    std::string body;
};

Exchange post(const SchedulerAddress &scheduler, const std::string &message,
              const Deadline &deadline, Resolver resolver)
{
    Connected connected = scheduler.isLocalSocket()
                              ? connectUnix(scheduler.server, deadline)
                              : connectTcp(scheduler.server, scheduler.port, deadline, resolver);
    if (connected.outcome != Outcome::Done)
        return {connected.outcome, 0, {}};
    const std::string request = httpRequest(scheduler, message);
    const Outcome written =
        writeAll(connected.descriptor,
                 std::span(reinterpret_cast<const std::uint8_t *>(request.data()), request.size()),
                 deadline);
    if (written != Outcome::Done)
        return {written, 0, {}};

    HttpResponseReader response(MaxResponseSize);
    std::array<std::uint8_t, 4096> buffer;
    while (response.state() == HttpResponseReader::State::Incomplete) {
        const ReadResult read = readSome(connected.descriptor, buffer, deadline);
        if (read.outcome == Outcome::TimedOut)
            return {Outcome::TimedOut, 0, {}};
        if (read.outcome == Outcome::Failed)
            response.finish(); // the stream ended, or broke
        else
            response.feed({reinterpret_cast<const char *>(buffer.data()), read.size});
    }
    if (response.state() != HttpResponseReader::State::Complete)
        return {Outcome::Failed, 0, {}};
    return {Outcome::Done, response.status(), std::string(response.body())};
}

std::string stringOf(ipp_t *response, const char *name)
{
    const char *text = ippGetString(ippFindAttribute(response, name, IPP_TAG_ZERO), 0, nullptr);
    return text ? text : std::string();
}

// The scheduler's IPP answer to request; outcome and why say why there is none. A response whose
// status is not "successful" (from 0x0100 up, RFC 8011 appendix B: among them the answers for an
// unknown queue and for no default destination) is Done with no response.
struct Answer
{
    Outcome outcome = Outcome::Failed;
    std::string why;
    Message response;
};

Answer ask(const SchedulerAddress &scheduler, ipp_t *request, const Deadline &deadline,
           Resolver resolver)
{
    std::string message;
    if (!request || ippWriteIO(&message, appendTo, 1, nullptr, request) != IPP_STATE_DATA)
        return {Outcome::Failed, "the request to " + scheduler.description() + " failed", {}};

    const Exchange exchange = post(scheduler, message, deadline, resolver);
    if (exchange.outcome == Outcome::TimedOut) {
        return {Outcome::TimedOut,
                scheduler.description() + " did not answer within " +
                    std::to_string(deadline.budget().count()) + " ms",
                {}};
    }
    if (exchange.outcome != Outcome::Done)
        return {exchange.outcome, scheduler.description() + " could not be reached", {}};
    if (exchange.status != 200) {
        return {Outcome::Done,
                scheduler.description() + " answered HTTP " + std::to_string(exchange.status),
                {}};
    }
    Message response{ippNew()};
    std::string_view body = exchange.body;
    if (!response || ippReadIO(&body, readFrom, 1, nullptr, response.get()) != IPP_STATE_DATA)
        return {Outcome::Done, scheduler.description() + " sent an answer that cannot be read", {}};
    if (ippGetStatusCode(response.get()) >= 0x0100)
        return {Outcome::Done, {}, {}};
    return {Outcome::Done, {}, std::move(response)};
}

// The report made of one printer's attributes.
QueueReport reportOf(ipp_t *attributes)
{
    QueueReport report;
    report.outcome = Outcome::Done;
    report.found = true;
    report.state = ippGetInteger(ippFindAttribute(attributes, "printer-state", IPP_TAG_ENUM), 0);
    if (ipp_attribute_t *reasons =
            ippFindAttribute(attributes, "printer-state-reasons", IPP_TAG_KEYWORD)) {
        for (int i = 0; i < ippGetCount(reasons); ++i) {
            if (const char *reason = ippGetString(reasons, i, nullptr))
                report.reasons.emplace_back(reason);
        }
    }
    report.name = stringOf(attributes, "printer-name");
    report.makeAndModel = stringOf(attributes, "printer-make-and-model");
    report.deviceUri = stringOf(attributes, "device-uri");
    return report;
}

} // namespace

SchedulerAddress SchedulerAddress::configured()
{
    SchedulerAddress scheduler;
    scheduler.server = cupsServer();
    // An IPv6 address comes in brackets.
    if (scheduler.server.size() > 2 && scheduler.server.front() == '[' &&
        scheduler.server.back() == ']') {
        scheduler.server = scheduler.server.substr(1, scheduler.server.size() - 2);
    }
    const int port = ippPort();
    if (port > 0 && port <= 65535)
        scheduler.port = static_cast<std::uint16_t>(port);
    return scheduler;
}

std::string SchedulerAddress::key() const
{
    return "scheduler " + server + " " + std::to_string(port);
}

std::string SchedulerAddress::description() const
{
    if (isLocalSocket())
        return "the scheduler at " + server;
    const bool ipv6 = server.find(':') != std::string::npos;
    return "the scheduler at " + (ipv6 ? "[" + server + "]" : server) + ":" + std::to_string(port);
}

QueueReport askScheduler(const SchedulerAddress &scheduler, const std::string &queue,
                         const Deadline &deadline, Resolver resolver)
{
    const Message request =
        newRequest(queue.empty() ? IPP_OP_CUPS_GET_DEFAULT : IPP_OP_GET_PRINTER_ATTRIBUTES, queue);
    Answer answer = ask(scheduler, request.get(), deadline, resolver);
    if (!answer.response) {
        QueueReport report;
        report.outcome = answer.outcome;
        report.why = !answer.why.empty() ? std::move(answer.why)
                     : queue.empty()     ? "the scheduler has no default destination"
                                         : "the scheduler has no queue of this name";
        return report;
    }
    return reportOf(answer.response.get());
}

QueueList listQueues(const SchedulerAddress &scheduler, const Deadline &deadline, Resolver resolver)
{
    const Message request = newRequest(IPP_OP_CUPS_GET_PRINTERS);
    Answer answer = ask(scheduler, request.get(), deadline, resolver);
    QueueList list;
    list.outcome = answer.outcome;
    // A scheduler with no queue at all answers "not found".
    if (!answer.response) {
        list.why = std::move(answer.why);
        return list;
    }
    // Each printer's attributes are a group of their own, groups parted by separators.
    Message printer;
    const auto finish = [&] {
        if (printer && ippGetName(ippFirstAttribute(printer.get())))
            list.queues.push_back(reportOf(printer.get()));
        printer.reset();
    };
    for (ipp_attribute_t *attribute = ippFirstAttribute(answer.response.get()); attribute;
         attribute = ippNextAttribute(answer.response.get())) {
        if (ippGetGroupTag(attribute) != IPP_TAG_PRINTER || !ippGetName(attribute)) {
            finish();
            continue;
        }
        if (!printer)
            printer.reset(ippNew());
        if (!printer || !ippCopyAttribute(printer.get(), attribute, 0))
            return {Outcome::Failed, {}, "out of memory reading the list of queues"};
    }
    finish();
    return list;
}

} // namespace ravelin::qvlmstat
