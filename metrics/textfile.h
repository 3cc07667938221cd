// SPDX-License-Identifier: MIT
#pragma once

// The textfile way, for machines whose node_exporter already reads a folder of *.prom files:
// DIR/ravelin.prom holds the same text a scrape gets, replaced whole after every reading round.

#include "printersample.h"

#include <optional>
#include <string>
#include <vector>

namespace ravelin::metrics {

class TextfileWriter
{
public:
    TextfileWriter(const std::string &directory, std::string version);

    // Replaces the file with these printers' metrics: written to a hidden temporary file in the
    // same folder (which node_exporter's *.prom does not match), flushed to the disk, made
    // readable by every user (0644: node_exporter runs as a user of its own), then renamed over
    // the file. A reader sees the old file or the new one, whole, never a part; after a failure
    // the old file stays as it was and no temporary file is left.
    // Returns a line for the log when writing starts to fail, fails for another reason, or works
    // again; nothing while all is as it was (a daemon writing every second logs no flood).
    std::optional<std::string> write(const std::vector<PrinterSample> &printers);

    const std::string &path() const { return m_path; }

private:
    std::string m_directory;
    std::string m_path;
    std::string m_version;
    std::string m_failure; // why the latest write failed; empty when it worked
};

} // namespace ravelin::metrics
