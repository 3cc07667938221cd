#include "qvlmstat.h"

#include "statusmapping.h"

#include <cups/cups.h>

#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The stand-in asks the CUPS scheduler afresh at every call, over a connection of its own that
// it closes before returning: no state is kept from one call to the next. The scheduler holds
// each queue's state as the queue's backend reports it, the role the maker's language monitor
// plays on Windows.

namespace {

using namespace ravelin::qvlmstat;
using SteadyClock = std::chrono::steady_clock;

// Every call returns within one second whatever the scheduler does (a scheduler that accepts
// the connection and never answers included): connecting and every wait for an answer share
// this budget, and the call gives up with Printer Error when it is spent.
constexpr std::chrono::milliseconds CallBudget{800};
// How long one wait for the scheduler's answer lasts before the budget is looked at again.
constexpr double WaitSlice = 0.05; // seconds

class Deadline
{
public:
    Deadline()
        : m_end(SteadyClock::now() + CallBudget)
    {}
    int remainingMilliseconds() const
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(m_end - SteadyClock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    bool passed() const { return SteadyClock::now() >= m_end; }

private:
    SteadyClock::time_point m_end;
};

// libcups asks this whenever a wait for data has lasted WaitSlice: 1 waits on, 0 gives up.
int keepWaiting(http_t *, void *deadline)
{
    return static_cast<const Deadline *>(deadline)->passed() ? 0 : 1;
}

struct ConnectionCloser
{
    void operator()(http_t *http) const { httpClose(http); }
};
using Connection = std::unique_ptr<http_t, ConnectionCloser>;

struct MessageDeleter
{
    void operator()(ipp_t *message) const { ippDelete(message); }
};
using Message = std::unique_ptr<ipp_t, MessageDeleter>;

// A connection to the scheduler libcups is configured to use (CUPS_SERVER, client.conf, the
// local socket), with its waits bound to the deadline, which must outlive it.
Connection connectToScheduler(Deadline &deadline)
{
    const int msec = deadline.remainingMilliseconds();
    if (msec <= 0)
        return {};
    int cancel = 0;
    Connection http{httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                 msec, &cancel)};
    if (http)
        httpSetTimeout(http.get(), WaitSlice, keepWaiting, &deadline);
    return http;
}

// One IPP request and its response over http, or none when the exchange fails or the
// deadline passes. Our own POST rather than cupsDoRequest(): libcups's cupsSendRequest() always
// waits up to a whole second for a "100 Continue" that a silent scheduler never sends, whatever
// the connection's time-out. No authentication either: CUPS's policies ask none for reading a
// printer's state, and a scheduler that does gets Printer Error rather than a password prompt.
Message exchange(http_t *http, ipp_t *request, const Deadline &deadline)
{
    httpClearFields(http);
    httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/ipp");
    httpSetLength(http, ippLength(request));
    if (httpPost(http, "/") != 0)
        return {};
    ipp_state_t state;
    while ((state = ippWrite(http, request)) != IPP_STATE_DATA) {
        if (state == IPP_STATE_ERROR)
            return {};
    }

    http_status_t status;
    do {
        status = httpUpdate(http); // waits bound to the deadline
    } while (status == HTTP_STATUS_CONTINUE && !deadline.passed());
    if (status != HTTP_STATUS_OK)
        return {};

    Message response{ippNew()};
    if (!response)
        return {};
    while ((state = ippRead(http, response.get())) != IPP_STATE_DATA) {
        if (state == IPP_STATE_ERROR)
            return {};
    }
    return response;
}

// A request for a printer's printer-state and printer-state-reasons.
Message newStatusRequest(ipp_op_t operation)
{
    Message request{ippNewRequest(operation)};
    if (!request)
        return {};
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    static const char *const requested[] = {"printer-state", "printer-state-reasons"};
    ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(requested)), nullptr, requested);
    return request;
}

// The status word of the printer that the request asks about.
StatusWord askForStatus(http_t *http, ipp_t *request, const Deadline &deadline)
{
    const Message response = exchange(http, request, deadline);
    // Status codes from 0x0100 up are not "successful" (RFC 8011, appendix B): among them the
    // scheduler's answer for an unknown queue and for no default destination.
    if (!response || ippGetStatusCode(response.get()) >= 0x0100)
        return PrinterErrorBit;

    int state = 0;
    if (ipp_attribute_t *attr = ippFindAttribute(response.get(), "printer-state", IPP_TAG_ENUM))
        state = ippGetInteger(attr, 0);

    std::vector<std::string_view> reasons;
    if (ipp_attribute_t *attr =
            ippFindAttribute(response.get(), "printer-state-reasons", IPP_TAG_KEYWORD)) {
        const int count = ippGetCount(attr);
        reasons.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            if (const char *reason = ippGetString(attr, i, nullptr))
                reasons.emplace_back(reason);
        }
    }
    return statusWord(state, reasons);
}

// The status word of a queue, by name ("queue" or "queue/instance": an instance is a set of
// saved options for its queue, with the queue's status).
StatusWord queueStatus(const std::string &name)
{
    const std::string queue = name.substr(0, name.find('/'));
    if (queue.empty())
        return PrinterErrorBit;
    char uri[HTTP_MAX_URI];
    if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost",
                         ippPort(), "/printers/%s", queue.c_str()) < HTTP_URI_STATUS_OK) {
        return PrinterErrorBit;
    }
    Message request = newStatusRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    if (!request)
        return PrinterErrorBit;
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);

    Deadline deadline;
    const Connection http = connectToScheduler(deadline);
    if (!http)
        return PrinterErrorBit;
    return askForStatus(http.get(), request.get(), deadline);
}

// The queue named by the Default line of an lpoptions file ("Default name[/instance]
// [options]"), read as libcups reads it: the first such line counts, and one that names no
// queue names none.
std::optional<std::string> lpoptionsDefault(const std::string &file)
{
    cups_file_t *options = cupsFileOpen(file.c_str(), "r");
    if (!options)
        return std::nullopt;
    std::string name;
    char line[8192];
    char *value = nullptr;
    int number = 0;
    while (cupsFileGetConf(options, line, sizeof line, &value, &number)) {
        if (strcasecmp(line, "default") == 0 && value) {
            name.assign(value, std::strcspn(value, " \t/"));
            break;
        }
    }
    cupsFileClose(options);
    if (name.empty())
        return std::nullopt;
    return name;
}

// The default destination that libcups finds before it asks the scheduler, in its order
// (cupsGetNamedDest() with no name): LPDEST; PRINTER unless it is "lp"; the Default line of the
// user's lpoptions, then of the system's in CUPS_SERVERROOT (which libcups ignores in a setuid
// or setgid program). None when none of them names one.
std::optional<std::string> localDefault()
{
    if (const char *lpdest = std::getenv("LPDEST"))
        return std::string(lpdest);
    if (const char *printer = std::getenv("PRINTER"); printer && std::strcmp(printer, "lp") != 0)
        return std::string(printer);
    if (const char *home = std::getenv("HOME")) {
        if (auto name = lpoptionsDefault(std::string(home) + "/.cups/lpoptions"))
            return name;
    }
    const char *serverRoot = std::getenv("CUPS_SERVERROOT");
    if (!serverRoot || (geteuid() != getuid() && getuid() != 0) || getegid() != getgid())
        serverRoot = "/etc/cups";
    return lpoptionsDefault(std::string(serverRoot) + "/lpoptions");
}

StatusWord printerStatus(const char *name)
{
    if (!name)
        return PrinterErrorBit;
    return queueStatus(name);
}

StatusWord defaultDestinationStatus()
{
    // A default named locally is asked for like any queue. (cupsGetNamedDest() would resolve
    // it the same way, but its requests wait out a silent scheduler for a second.)
    if (const std::optional<std::string> name = localDefault())
        return queueStatus(*name);

    // Otherwise the scheduler's default, whose attributes CUPS-Get-Default returns directly.
    Message request = newStatusRequest(IPP_OP_CUPS_GET_DEFAULT);
    if (!request)
        return PrinterErrorBit;
    Deadline deadline;
    const Connection http = connectToScheduler(deadline);
    if (!http)
        return PrinterErrorBit;
    return askForStatus(http.get(), request.get(), deadline);
}

} // namespace

extern "C" int32_t GetLMStatus(void)
{
    try {
        return defaultDestinationStatus();
    } catch (...) { // only memory exhaustion can throw; nothing may cross the C boundary
        return PrinterErrorBit;
    }
}

extern "C" int32_t GetPrinterStatus(const char *name)
{
    try {
        return printerStatus(name);
    } catch (...) {
        return PrinterErrorBit;
    }
}
