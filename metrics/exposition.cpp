// SPDX-License-Identifier: MIT
#include "exposition.h"

#include <prometheus/text_serializer.h>

#include <algorithm>
#include <utility>

namespace ravelin::metrics {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

constexpr std::string_view Replacement = "\xEF\xBF\xBD"; // U+FFFD

// The length of the valid UTF-8 sequence that text starts with (Unicode's table of well-formed
// byte sequences: no overlong forms, no surrogates, nothing above U+10FFFF), 0 when none.
std::size_t validSequence(std::string_view text)
{
    const auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    }
    return length;
}

std::array<std::string, StatusBitCount> makeFlagLabels()
{
    std::array<std::string, StatusBitCount> labels;
    for (std::size_t bit = 0; bit < labels.size(); ++bit) {
        for (const char *c = StatusBitCaptions[bit]; *c; ++c) {
            if (*c >= 'A' && *c <= 'Z')
                labels[bit] += static_cast<char>(*c - 'A' + 'a');
            else if ((*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9'))
                labels[bit] += *c;
            else if (!labels[bit].empty() && labels[bit].back() != '_')
                labels[bit] += '_';
        }
    }
    return labels;
}

MetricFamily family(const char *name, const char *help, MetricType type, std::size_t size)
{
    MetricFamily family;
    family.name = name;
    family.help = help;
    family.type = type;
    family.metric.reserve(size);
    return family;
}

void add(MetricFamily &family, std::vector<ClientMetric::Label> labels, double value)
{
    ClientMetric &metric = family.metric.emplace_back();
    metric.label = std::move(labels);
    if (family.type == MetricType::Counter)
        metric.counter.value = value;
    else
        metric.gauge.value = value;
}

double seconds(auto duration)
{
    return std::chrono::duration<double>(duration).count();
}

} // namespace

const std::array<std::string, StatusBitCount> &flagLabels()
{
    static const std::array<std::string, StatusBitCount> labels = makeFlagLabels();
    return labels;
}

std::string deviceUriScheme(std::string_view uri)
{
    // RFC 3986: ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
    const std::size_t colon = uri.find(':');
    if (colon == 0 || colon == std::string_view::npos)
        return {};
    std::string scheme;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = uri[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!letter && !(i > 0 && other))
            return {};
        scheme += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return scheme;
}

std::string labelValue(std::string_view text)
{
    std::string value;
    value.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = validSequence(text);
        const auto first = static_cast<unsigned char>(text.front());
        if (length == 0 || first < 0x20 || first == 0x7F) {
            value += Replacement;
            text.remove_prefix(1);
        } else {
            value += text.substr(0, length);
            text.remove_prefix(length);
        }
    }
    return value;
}

std::vector<MetricFamily> collect(const std::vector<PrinterSample> &printers,
                                  std::string_view version)
{
    // By name, as label values, once each.
    std::vector<std::pair<std::string, const PrinterSample *>> named;
    named.reserve(printers.size());
    for (const PrinterSample &printer : printers) {
        if (!printer.name.empty())
            named.emplace_back(labelValue(printer.name), &printer);
    }
    std::ranges::stable_sort(named, {}, &std::pair<std::string, const PrinterSample *>::first);
    const auto [last, end] =
        std::ranges::unique(named, {}, &std::pair<std::string, const PrinterSample *>::first);
    named.erase(last, end);

    const std::size_t count = named.size();
    const std::size_t flagCount = count * StatusBitCount;
    MetricFamily build = family("ravelin_monitor_build_info", "The monitor's version; always 1.",
                                MetricType::Gauge, 1);
    MetricFamily info = family(
        "ravelin_printer_info",
        "A printer the monitor watches: its device URI's scheme and its make and model; always 1.",
        MetricType::Gauge, count);
    MetricFamily word =
        family("ravelin_printer_status_word", "The printer's latest 32-bit status word.",
               MetricType::Gauge, count);
    MetricFamily flag = family("ravelin_printer_flag",
                               "Whether the status bit named by flag is set in the latest word.",
                               MetricType::Gauge, flagCount);
    MetricFamily rises = family("ravelin_printer_flag_rises_total",
                                "How often the status bit named by flag went from 0 to 1 since "
                                "the monitor started.",
                                MetricType::Counter, flagCount);
    MetricFamily reachable = family(
        "ravelin_printer_reachable",
        "Whether the latest reading got every answer it asked for (0: the word has Printer Error "
        "because the printer or the scheduler did not answer).",
        MetricType::Gauge, count);
    MetricFamily readAt = family("ravelin_printer_last_reading_timestamp_seconds",
                                 "When the latest reading of the printer ended, in seconds since "
                                 "the Unix epoch.",
                                 MetricType::Gauge, count);
    MetricFamily duration =
        family("ravelin_printer_reading_duration_seconds",
               "How long the latest reading of the printer took.", MetricType::Gauge, count);

    add(build, {{"version", labelValue(version)}}, 1);
    const auto &flags = flagLabels();
    for (const auto &[name, printer] : named) {
        add(info,
            {{"printer", name},
             {"device_uri_scheme", deviceUriScheme(printer->deviceUri)},
             {"make_model", labelValue(printer->makeAndModel)}},
            1);
        for (std::size_t bit = 0; bit < StatusBitCount; ++bit) {
            add(rises, {{"printer", name}, {"flag", flags[bit]}},
                static_cast<double>(printer->rises[bit]));
        }
        if (!printer->read)
            continue;
        add(word, {{"printer", name}}, static_cast<double>(printer->word));
        for (std::size_t bit = 0; bit < StatusBitCount; ++bit) {
            add(flag, {{"printer", name}, {"flag", flags[bit]}},
                (printer->word >> bit) & 1U ? 1.0 : 0.0);
        }
        add(reachable, {{"printer", name}}, printer->reachable ? 1.0 : 0.0);
        add(readAt, {{"printer", name}}, seconds(printer->readAt.time_since_epoch()));
        add(duration, {{"printer", name}}, seconds(printer->readingDuration));
    }

    std::vector<MetricFamily> families;
    families.reserve(8);
    for (MetricFamily *each : {&build, &info, &word, &flag, &rises, &reachable, &readAt, &duration})
        families.push_back(std::move(*each));
    return families;
}

std::string exposition(const std::vector<PrinterSample> &printers, std::string_view version)
{
    return prometheus::TextSerializer().Serialize(collect(printers, version));
}

PrinterCollector::PrinterCollector(SampleSource source, std::string version)
    : m_source(std::move(source))
    , m_version(std::move(version))
{}

std::vector<MetricFamily> PrinterCollector::Collect() const
{
    return collect(m_source(), m_version);
}

} // namespace ravelin::metrics
