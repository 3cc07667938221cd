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

// The request for the attributes that make the status word and say whether, and how, the
// printer itself is asked.
Message newRequest(const std::string &queue)
{
    const ipp_op_t operation =
        queue.empty() ? IPP_OP_CUPS_GET_DEFAULT : IPP_OP_GET_PRINTER_ATTRIBUTES;
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
    static const char *const requested[] = {"printer-state", "printer-state-reasons",
                                            "printer-name", "printer-make-and-model", "device-uri"};
    ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(requested)), nullptr, requested);
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

QueueReport askScheduler(const SchedulerAddress &scheduler, const std::string &queue,
                         const Deadline &deadline, Resolver resolver)
{
    const Message request = newRequest(queue);
    std::string message;
    if (!request || ippWriteIO(&message, appendTo, 1, nullptr, request.get()) != IPP_STATE_DATA)
        return {};

    const Exchange exchange = post(scheduler, message, deadline, resolver);
    QueueReport report;
    report.outcome = exchange.outcome;
    if (exchange.outcome != Outcome::Done || exchange.status != 200)
        return report;

    const Message response{ippNew()};
    std::string_view body = exchange.body;
    if (!response || ippReadIO(&body, readFrom, 1, nullptr, response.get()) != IPP_STATE_DATA)
        return report;
    // Status codes from 0x0100 up are not "successful" (RFC 8011, appendix B): among them the
    // scheduler's answer for an unknown queue and for no default destination.
    if (ippGetStatusCode(response.get()) >= 0x0100)
        return report;

    report.found = true;
    report.state =
        ippGetInteger(ippFindAttribute(response.get(), "printer-state", IPP_TAG_ENUM), 0);
    if (ipp_attribute_t *reasons =
            ippFindAttribute(response.get(), "printer-state-reasons", IPP_TAG_KEYWORD)) {
        for (int i = 0; i < ippGetCount(reasons); ++i) {
            if (const char *reason = ippGetString(reasons, i, nullptr))
                report.reasons.emplace_back(reason);
        }
    }
    report.name = stringOf(response.get(), "printer-name");
    report.makeAndModel = stringOf(response.get(), "printer-make-and-model");
    report.deviceUri = stringOf(response.get(), "device-uri");
    return report;
}

} // namespace ravelin::qvlmstat
