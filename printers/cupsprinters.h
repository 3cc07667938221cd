// SPDX-License-Identifier: MIT
#pragma once

#include "installedprinters.h"

#include <chrono>

namespace ravelin {

// The installed printers as the CUPS scheduler that libcups is configured to use lists them:
// its queues and classes, and the instances (name/instance) saved in the lpoptions files, in
// the scheduler's order (case-insensitive alphabetical). Printers that are only discovered on
// the network do not count and are not browsed for. With no scheduler reachable the list is
// empty. A scheduler that does not answer in time gets no longer than Patience: the list is
// then what was read by then, usually nothing.
class CupsPrinters final : public InstalledPrinters
{
public:
    static constexpr std::chrono::milliseconds Patience{1000};

    QStringList printerNames() const override;
};

} // namespace ravelin
