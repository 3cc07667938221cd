// SPDX-License-Identifier: MIT
#include "scheduler.h"

#include <curl/curl.h>
#include <netdb.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <memory>

namespace ravelin::qvlmstat {

namespace {

struct CurlDeleter
{
    void operator()(CURL *transfer) const { curl_easy_cleanup(transfer); }
};
using Transfer = std::unique_ptr<CURL, CurlDeleter>;

struct ListDeleter
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using List = std::unique_ptr<curl_slist, ListDeleter>;

// libcurl's process-wide set-up, once (curl_easy_init() would do it on first use, but not
// safely from two threads at once). Never undone: the library stays loaded.
bool curlReady()
{
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

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

// A response body, refused once it would pass its cap.
struct Body
{
    std::size_t cap = 0;
    std::string bytes;
    bool tooLarge = false;
};

size_t takeBody(char *data, size_t size, size_t count, void *context)
{
    auto *body = static_cast<Body *>(context);
    const size_t bytes = size * count;
    if (bytes > body->cap - body->bytes.size()) {
        body->tooLarge = true;
        return 0; // ends the transfer
    }
    body->bytes.append(data, bytes);
    return bytes;
}

// "host:port:address,address" for CURLOPT_RESOLVE: libcurl connects to the addresses found
// here and looks nothing up itself.
std::string resolveEntry(const SchedulerAddress &scheduler, const addrinfo *addresses)
{
    std::string entry = scheduler.server + ":" + std::to_string(scheduler.port) + ":";
    for (const addrinfo *address = addresses; address; address = address->ai_next) {
        std::array<char, NI_MAXHOST> text{};
        if (::getnameinfo(address->ai_addr, address->ai_addrlen, text.data(), text.size(), nullptr,
                          0, NI_NUMERICHOST) != 0) {
            continue;
        }
        if (!entry.ends_with(':'))
            entry += ',';
        // Appended piece by piece: GCC 12 at -O3 (the benchmarks' build) takes a temporary
        // "[" + text + "]" for an overlapping copy (-Wrestrict).
        const bool ipv6 = address->ai_family == AF_INET6;
        if (ipv6)
            entry += '[';
        entry += text.data();
        if (ipv6)
            entry += ']';
    }
    return entry;
}

// One POST of message, in the clear or with TLS, as it ended.
struct Posted
{
    explicit Posted(std::size_t cap) { body.cap = cap; }

    CURLcode code = CURLE_FAILED_INIT;
    long status = 0;      // HTTP
    long systemError = 0; // errno of the last failed connect
    Body body;
    std::array<char, CURL_ERROR_SIZE> error{};
};

void post(const SchedulerAddress &scheduler, const addrinfo *addresses, const std::string &message,
          bool tls, const Deadline &deadline, Posted &posted)
{
    const long msec = deadline.remainingMilliseconds();
    if (msec <= 0) {
        posted.code = CURLE_OPERATION_TIMEDOUT;
        return;
    }
    // No "Expect: 100-continue": a silent scheduler never sends the go-ahead. (The lists go
    // after the transfer that uses them.)
    const List headers{curl_slist_append(nullptr, "Content-Type: application/ipp")};
    if (!headers || !curl_slist_append(headers.get(), "Expect:"))
        return;
    List resolve;
    const Transfer transfer{curl_easy_init()};
    if (!transfer)
        return;
    CURL *const handle = transfer.get();
    const std::string scheme = tls ? "https://" : "http://";
    std::string url = scheme + "localhost/";
    if (scheduler.isLocalSocket()) {
        curl_easy_setopt(handle, CURLOPT_UNIX_SOCKET_PATH, scheduler.server.c_str());
    } else if (scheduler.server.find(':') != std::string::npos) { // an IPv6 address
        url = scheme + "[" + scheduler.server + "]:" + std::to_string(scheduler.port) + "/";
    } else {
        url = scheme + scheduler.server + ":" + std::to_string(scheduler.port) + "/";
        resolve.reset(curl_slist_append(nullptr, resolveEntry(scheduler, addresses).c_str()));
        if (!resolve)
            return;
        curl_easy_setopt(handle, CURLOPT_RESOLVE, resolve.get());
    }
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    // The proxy settings of the environment are for the web, not for the print scheduler.
    curl_easy_setopt(handle, CURLOPT_PROXY, "");
    // Signals are the program's: the time-out must not raise SIGALRM.
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, msec);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, msec);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, cupsUserAgent());
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, message.data());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(message.size()));
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(posted.body.cap));
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, takeBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &posted.body);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, posted.error.data());
    posted.code = curl_easy_perform(handle);
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &posted.status);
    curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &posted.systemError);
}

// Failures on this side, before anything went to the scheduler.
bool isLocalFailure(CURLcode code)
{
    switch (code) {
    case CURLE_FAILED_INIT:
    case CURLE_OUT_OF_MEMORY:
    case CURLE_URL_MALFORMAT:
    case CURLE_BAD_FUNCTION_ARGUMENT:
        return true;
    default:
        return false;
    }
}

bool isTlsFailure(CURLcode code)
{
    switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CLIENTCERT:
        return true;
    default:
        return false;
    }
}

std::string budgetText(const Deadline &deadline)
{
    return std::to_string(deadline.budget().count()) + " ms";
}

// What came of a POST that was made.
SchedulerAnswer answerOf(const Posted &posted, const std::string &where, bool tls,
                         http_encryption_t encryption, const Deadline &deadline,
                         const AnswerLimits &limits)
{
    const std::string detail =
        posted.error[0] ? std::string(posted.error.data()) : curl_easy_strerror(posted.code);
    if (posted.body.tooLarge || posted.code == CURLE_FILESIZE_EXCEEDED)
        return {Outcome::Failed, {}, where + " " + tooLargeWhy(limits)};
    if (isLocalFailure(posted.code))
        return {Outcome::Failed, {}, "no request could be sent to " + where + ": " + detail};
    if (posted.code == CURLE_OPERATION_TIMEDOUT)
        return {Outcome::TimedOut, {}, where + " did not answer within " + budgetText(deadline)};
    // A Unix socket whose queue of connections is full: the sign of a scheduler that has stopped
    // taking them, as unresponsive as a silent one.
    if (posted.code == CURLE_COULDNT_CONNECT && posted.systemError == EAGAIN)
        return {Outcome::TimedOut, {}, where + " takes no connections: its queue of them is full"};
    if (posted.code == CURLE_COULDNT_CONNECT)
        return {Outcome::Failed, {}, where + " refused the connection"};
    if (tls && isTlsFailure(posted.code))
        return {Outcome::Failed, {}, "TLS with " + where + " failed: " + detail};
    if (posted.code == CURLE_GOT_NOTHING)
        return {Outcome::Failed, {}, where + " closed the connection without an answer"};
    if (posted.code != CURLE_OK)
        return {Outcome::Failed, {}, where + " sent no valid answer: " + detail};
    if (posted.status == 401)
        return {Outcome::Failed, {}, where + " demands a login"};
    if (posted.status == 426 && encryption == HTTP_ENCRYPTION_NEVER) {
        return {Outcome::Failed,
                {},
                where + " demands encryption, which the client configuration forbids"};
    }
    if (posted.status != 200) {
        return {Outcome::Failed,
                {},
                where + " answered with HTTP status " + std::to_string(posted.status)};
    }
    std::string why;
    Message response = readIppMessage(posted.body.bytes, limits, why);
    if (!response)
        return {Outcome::Failed, {}, where + " " + why};
    return {Outcome::Done, std::move(response), {}};
}

// Why the scheduler's name gave no address to connect to.
std::string lookupWhy(const std::string &where, HostAddresses::Failure failure,
                      const Deadline &deadline)
{
    switch (failure) {
    case HostAddresses::Failure::TimedOut:
        return where + " has a name that did not resolve within " + budgetText(deadline);
    case HostAddresses::Failure::Busy:
        return where + " was not asked: too many name look-ups are under way";
    default:
        return where + " has a name that does not resolve";
    }
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

std::string SchedulerAddress::where() const
{
    if (isLocalSocket())
        return server;
    const bool ipv6 = server.find(':') != std::string::npos;
    return (ipv6 ? "[" + server + "]" : server) + ":" + std::to_string(port);
}

SchedulerAnswer exchangeWithScheduler(const SchedulerAddress &scheduler, ipp_t *request,
                                      const Deadline &deadline, Resolver resolver,
                                      const AnswerLimits &limits)
{
    const std::string where = "the scheduler at " + scheduler.where();
    std::string message;
    if (!request || ippWriteIO(&message, appendTo, 1, nullptr, request) != IPP_STATE_DATA)
        return {Outcome::Failed, {}, "no request could be made for " + where};
    if (!curlReady())
        return {Outcome::Failed, {}, "libcurl could not be set up to ask " + where};
    HostAddresses addresses;
    if (!scheduler.isLocalSocket()) {
        addresses = lookUpHost(scheduler.server, deadline, resolver);
        if (addresses.outcome != Outcome::Done)
            return {addresses.outcome, {}, lookupWhy(where, addresses.failure, deadline)};
    }

    // Port 443 is spoken with TLS only, as libcups has it.
    const http_encryption_t encryption =
        scheduler.port == 443 ? HTTP_ENCRYPTION_ALWAYS : cupsEncryption();
    bool tls = encryption == HTTP_ENCRYPTION_REQUIRED || encryption == HTTP_ENCRYPTION_ALWAYS;
    Posted posted(limits.maxBytes);
    post(scheduler, addresses.list.get(), message, tls, deadline, posted);
    // A scheduler that will answer only over TLS says so with 426 Upgrade Required. CUPS takes
    // TLS from the first byte on any port, so that is how it is asked again.
    if (posted.code == CURLE_OK && posted.status == 426 && !tls &&
        encryption != HTTP_ENCRYPTION_NEVER) {
        tls = true;
        posted = Posted(limits.maxBytes);
        post(scheduler, addresses.list.get(), message, tls, deadline, posted);
    }
    return answerOf(posted, where, tls, encryption, deadline, limits);
}

QueueReport askScheduler(const SchedulerAddress &scheduler, const std::string &queue,
                         const Deadline &deadline, Resolver resolver)
{
    QueueReport report;
    const Message request =
        newRequest(queue.empty() ? IPP_OP_CUPS_GET_DEFAULT : IPP_OP_GET_PRINTER_ATTRIBUTES, queue);
    if (!request) {
        report.why = "no request could be made for the queue " + queue;
        return report;
    }
    SchedulerAnswer answer =
        exchangeWithScheduler(scheduler, request.get(), deadline, resolver, OneQueueLimits);
    report.outcome = answer.outcome;
    if (answer.outcome != Outcome::Done) {
        report.why = std::move(answer.why);
        return report;
    }
    report.fill(readQueueAnswer(answer.response.get(), queue), scheduler);
    return report;
}

QueueList listQueues(const SchedulerAddress &scheduler, const Deadline &deadline, Resolver resolver)
{
    QueueList list;
    const Message request = newRequest(IPP_OP_CUPS_GET_PRINTERS);
    if (!request) {
        list.why = "no request could be made for the list of queues";
        return list;
    }
    SchedulerAnswer answer =
        exchangeWithScheduler(scheduler, request.get(), deadline, resolver, QueueListLimits);
    list.outcome = answer.outcome;
    if (answer.outcome != Outcome::Done) {
        list.why = std::move(answer.why);
        return list;
    }
    // A scheduler with no queue at all answers "not found".
    if (const ipp_status_t status = ippGetStatusCode(answer.response.get()); status >= 0x0100) {
        if (status != IPP_STATUS_ERROR_NOT_FOUND) {
            list.why = "the scheduler at " + scheduler.where() +
                       " refused the request: " + ippErrorString(status);
        }
        return list;
    }
    // Each printer's attributes are a group of their own, groups parted by separators; each is
    // read as an answer about that one queue.
    Message printer;
    const auto finish = [&] {
        if (printer) {
            QueueReport report;
            report.outcome = Outcome::Done;
            report.fill(readQueueAnswer(printer.get(), {}), scheduler);
            if (report.name.empty()) {
                const char *name = ippGetString(
                    ippFindAttribute(printer.get(), "printer-name", IPP_TAG_NAME), 0, nullptr);
                report.name = name ? name : "";
            }
            if (!report.name.empty())
                list.queues.push_back(std::move(report));
        }
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
        if (!printer || !ippCopyAttribute(printer.get(), attribute, 0)) {
            list.why = "out of memory reading the list of queues";
            list.queues.clear();
            return list;
        }
    }
    finish();
    return list;
}

void QueueReport::fill(QueueAnswer answer, const SchedulerAddress &scheduler)
{
    found = answer.found;
    name = std::move(answer.name);
    if (!found) {
        why = "the scheduler at " + scheduler.where() + " " + answer.why;
        return;
    }
    state = answer.state;
    reasons = std::move(answer.reasons);
    makeAndModel = std::move(answer.makeAndModel);
    deviceUri = std::move(answer.deviceUri);
}

} // namespace ravelin::qvlmstat
