// SPDX-License-Identifier: MIT
#pragma once

// The monitor's printers as Prometheus metrics, computed from memory whenever they are asked
// for: by a scrape of the HTTP endpoint (PrinterCollector) or for the textfile (exposition()).
//
//   ravelin_monitor_build_info{version}                                  1
//   ravelin_printer_info{printer,device_uri_scheme,make_model}           1, every watched printer
//   ravelin_printer_flag_rises_total{printer,flag}                       counter, every printer
// and, once a printer's first reading is in:
//   ravelin_printer_status_word{printer}                                 the latest 32-bit word
//   ravelin_printer_flag{printer,flag}                                   0 or 1, sixteen a printer
//   ravelin_printer_reachable{printer}                                   0 or 1
//   ravelin_printer_last_reading_timestamp_seconds{printer}              when it ended
//   ravelin_printer_reading_duration_seconds{printer}                    how long it took
//
// No timestamps and no site labels: the scrape configuration adds those. Label values are valid
// UTF-8 whatever the scheduler said (a byte that is not, or a control character, becomes
// U+FFFD), since one invalid label fails the whole scrape; printers whose names come out equal
// are shown once, and a printer without a name not at all.

#include "printersample.h"

#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>

#include <string>
#include <string_view>
#include <vector>

namespace ravelin::metrics {

// The flag label of each status bit: its caption in snake_case, "Paper at Delivery" ->
// "paper_at_delivery".
const std::array<std::string, StatusBitCount> &flagLabels();

// The scheme of a device URI in lower case ("socket", "serial", "usb"), empty when it has none.
std::string deviceUriScheme(std::string_view uri);

// text as a label value: valid UTF-8, without control characters.
std::string labelValue(std::string_view text);

std::vector<prometheus::MetricFamily> collect(const std::vector<PrinterSample> &printers,
                                              std::string_view version);

// The same in Prometheus's text format, as a scrape gets it.
std::string exposition(const std::vector<PrinterSample> &printers, std::string_view version);

// What the HTTP endpoint asks on each scrape: the source's printers, collected.
class PrinterCollector final : public prometheus::Collectable
{
public:
    PrinterCollector(SampleSource source, std::string version);
    std::vector<prometheus::MetricFamily> Collect() const override;

private:
    SampleSource m_source;
    std::string m_version;
};

} // namespace ravelin::metrics
